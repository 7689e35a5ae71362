#include <gtest/gtest.h>

#include <tuple>

#include "manifest/attribute_reader.h"
#include "manifest/xml_dom.h"
#include "tests/manifest/xml_file.h"

// Base 0 unless given: as strtoul, with the sign wrapping and overflow saturating.
TEST(ParseUInt32, Forms_ConvertAsStrtoulWrapOrSaturate) {
    const struct {
        const char* text;
        int base;
        uint32_t value;
    } cases[] = {
        {"42", 0, 42u},
        {" \t\r\n\v\f42", 0, 42u},
        {"+7", 0, 7u},
        {"0x1F", 0, 31u},
        {"0X1f", 0, 31u},
        {"017", 0, 15u},
        {"08", 0, 0u},
        {"12abc", 0, 12u},
        {"abc", 0, 0u},
        {"", 0, 0u},
        {"0x", 0, 0u},
        {"0xg", 0, 0u},
        {"-", 0, 0u},
        {"- 5", 0, 0u},
        {"-1", 0, ~0u},
        {"-0x2", 0, ~1u},
        {"-4294967295", 0, 1u},
        {"4294967295", 0, ~0u},
        {"4294967296", 0, ~0u},
        {"-4294967296", 0, ~0u},
        {"0x100000000", 0, ~0u},
        {"99999999999999999999", 0, ~0u},
        {"AB", 16, 0xABu},
        {"0xAB", 16, 0xABu},
        {"1z", 16, 1u},
        {"zz", 16, 0u},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.value, c.base == 0 ? ParseUInt32(c.text) : ParseUInt32(c.text, c.base))
            << '"' << c.text << '"';
}

TEST(ParseInt64, Base0AndLimits_ConvertAsStrtoi64) {
    const std::pair<const char*, int64_t> cases[] = {{"36000000000", 36000000000},
                                                     {"  -5", -5},
                                                     {"0x10", 16},
                                                     {"010", 8},
                                                     {"abc", 0},
                                                     {"123.9", 123},
                                                     {"9223372036854775807", INT64_MAX},
                                                     {"9223372036854775808", INT64_MAX},
                                                     {"0xFFFFFFFFFFFFFFFF", INT64_MAX},
                                                     {"-9223372036854775808", INT64_MIN},
                                                     {"-9223372036854775809", INT64_MIN},
                                                     {"184467440737095516160000", INT64_MAX}};
    for (const auto& [text, value] : cases)
        EXPECT_EQ(value, ParseInt64(text)) << '"' << text << '"';
}

TEST(DecodeHexBytes, PairsAndOddTail_LowBytesAppended) {
    std::vector<BYTE> bytes{0x55, 0x66, 0x77};
    DecodeHexBytes("0A1B", &bytes);
    EXPECT_EQ((std::vector<BYTE>{0x0A, 0x1B}), bytes);
    DecodeHexBytes("ABC", &bytes);
    EXPECT_EQ((std::vector<BYTE>{0xAB, 0x0C}), bytes);
    // A pair not starting with a digit gives 0; a bad second character leaves the first.
    DecodeHexBytes("zz1gG1", &bytes);
    EXPECT_EQ((std::vector<BYTE>{0x00, 0x01, 0x00}), bytes);
    DecodeHexBytes("", &bytes);
    EXPECT_TRUE(bytes.empty());
}

TEST(EqualsIgnoreCase, Keywords_FoldAsciiOnly) {
    EXPECT_TRUE(EqualsIgnoreCase("/MaNiFeSt", "/manifest") && EqualsIgnoreCase("", ""));
    for (const char* other : {"video ", "vide", "videos"})
        EXPECT_FALSE(EqualsIgnoreCase(other, "video")) << other;
}

TEST(AttributeReader, Readers_PresentConvertedAbsentSFalseAndUntouched) {
    TempXmlFile file(R"(<e n="0x10" neg="-1" big="36000000000" empty="" t1="TRUE" t2="True"
        f1="false" f2="1" f3="yes" f4=" true" cc4="H264" cc3="AAC" cc5="AACLX"
        hex="119056e500"/>)");
    CXmlDocument document;
    CXmlElement element;
    CXmlAttributes attributes;
    ASSERT_EQ(S_OK, document.Load(file.Path()));
    ASSERT_EQ(S_OK, document.FindFirstElement("e", &element));
    ASSERT_EQ(S_OK, element.GetAttributes(&attributes));
    uint32_t u = 99;
    for (const auto& [name, value] :
         {std::pair<const char*, uint32_t>{"n", 16}, {"neg", ~0u}, {"empty", 0}}) {
        EXPECT_EQ(S_OK, ReadUInt32(attributes, name, &u)) << name;
        EXPECT_EQ(value, u) << name;
    }
    int64_t i = 7;
    EXPECT_EQ(S_OK, ReadInt64(attributes, "big", &i));
    EXPECT_EQ(36000000000, i);
    const std::pair<const char*, BOOL> booleans[] = {{"t1", 1}, {"t2", 1}, {"f1", 0},
                                                     {"f2", 0}, {"f3", 0}, {"f4", 0}};
    BOOL b = 5;
    for (const auto& [name, expected] : booleans) {
        EXPECT_EQ(S_OK, ReadBoolean(attributes, name, &b)) << name;
        EXPECT_EQ(expected, b) << name;
    }
    uint32_t fourcc = 0;
    EXPECT_EQ(S_OK, ReadFourCC(attributes, "cc4", &fourcc));
    EXPECT_EQ(0x34363248u, fourcc);
    std::vector<BYTE> bytes{1, 2, 3};
    EXPECT_EQ(S_OK, ReadHexBytes(attributes, "hex", &bytes));
    EXPECT_EQ((std::vector<BYTE>{0x11, 0x90, 0x56, 0xE5, 0x00}), bytes);
    std::string text = "kept";
    EXPECT_EQ(S_OK, ReadText(attributes, "empty", &text));
    EXPECT_EQ("", text);

    // Absent (names match in case), or a FourCC not of four characters.
    u = 99, i = 7, b = 5, fourcc = 1, text = "kept";
    EXPECT_EQ(S_FALSE, ReadUInt32(attributes, "N", &u));
    EXPECT_EQ(S_FALSE, ReadInt64(attributes, "absent", &i));
    EXPECT_EQ(S_FALSE, ReadBoolean(attributes, "absent", &b));
    for (const char* name : {"cc3", "cc5", "empty", "absent"})
        EXPECT_EQ(S_FALSE, ReadFourCC(attributes, name, &fourcc)) << name;
    EXPECT_EQ(S_FALSE, ReadHexBytes(attributes, "absent", &bytes));
    EXPECT_EQ(S_FALSE, ReadText(attributes, "absent", &text));
    EXPECT_EQ(std::make_tuple(99u, int64_t(7), BOOL(5), 1u, size_t(5), std::string("kept")),
              std::make_tuple(u, i, b, fourcc, bytes.size(), text));
}
