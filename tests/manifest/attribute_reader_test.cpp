#include <gtest/gtest.h>

#include "manifest/attribute_reader.h"
#include "manifest/xml_dom.h"
#include "tests/manifest/xml_file.h"

TEST(ParseUInt32, Base0Forms_ConvertAsStrtoul) {
    EXPECT_EQ(42u, ParseUInt32("42"));
    EXPECT_EQ(42u, ParseUInt32(" \t\r\n\v\f42"));
    EXPECT_EQ(7u, ParseUInt32("+7"));
    EXPECT_EQ(31u, ParseUInt32("0x1F"));
    EXPECT_EQ(31u, ParseUInt32("0X1f"));
    EXPECT_EQ(15u, ParseUInt32("017"));
    EXPECT_EQ(0u, ParseUInt32("08"));
    EXPECT_EQ(12u, ParseUInt32("12abc"));
    EXPECT_EQ(12u, ParseUInt32("12 34"));
    EXPECT_EQ(0u, ParseUInt32("abc"));
    EXPECT_EQ(0u, ParseUInt32(""));
    EXPECT_EQ(0u, ParseUInt32("0x"));
    EXPECT_EQ(0u, ParseUInt32("0xg"));
    EXPECT_EQ(0u, ParseUInt32("-"));
    EXPECT_EQ(0u, ParseUInt32("- 5"));
}

TEST(ParseUInt32, SignAndOverflow_WrapOrSaturate) {
    EXPECT_EQ(0xFFFFFFFFu, ParseUInt32("-1"));
    EXPECT_EQ(0xFFFFFFFEu, ParseUInt32("-0x2"));
    EXPECT_EQ(1u, ParseUInt32("-4294967295"));
    EXPECT_EQ(0xFFFFFFFFu, ParseUInt32("4294967295"));
    EXPECT_EQ(0xFFFFFFFFu, ParseUInt32("4294967296"));
    EXPECT_EQ(0xFFFFFFFFu, ParseUInt32("-4294967296"));
    EXPECT_EQ(0xFFFFFFFFu, ParseUInt32("0x100000000"));
    EXPECT_EQ(0xFFFFFFFFu, ParseUInt32("99999999999999999999999999999"));
    EXPECT_EQ(0xFFFFFFFFu, ParseUInt32("0xFFFFFFFF"));
}

TEST(ParseUInt32, Base16_AcceptsPrefixAndStopsAtNonDigit) {
    EXPECT_EQ(0xABu, ParseUInt32("AB", 16));
    EXPECT_EQ(0xABu, ParseUInt32("0xAB", 16));
    EXPECT_EQ(1u, ParseUInt32("1z", 16));
    EXPECT_EQ(0u, ParseUInt32("zz", 16));
}

TEST(ParseInt64, Base0AndLimits_ConvertAsStrtoi64) {
    EXPECT_EQ(36000000000, ParseInt64("36000000000"));
    EXPECT_EQ(-5, ParseInt64("  -5"));
    EXPECT_EQ(16, ParseInt64("0x10"));
    EXPECT_EQ(8, ParseInt64("010"));
    EXPECT_EQ(0, ParseInt64("abc"));
    EXPECT_EQ(123, ParseInt64("123.9"));
    EXPECT_EQ(INT64_MAX, ParseInt64("9223372036854775807"));
    EXPECT_EQ(INT64_MAX, ParseInt64("9223372036854775808"));
    EXPECT_EQ(INT64_MAX, ParseInt64("0xFFFFFFFFFFFFFFFF"));
    EXPECT_EQ(INT64_MIN, ParseInt64("-9223372036854775808"));
    EXPECT_EQ(INT64_MIN, ParseInt64("-9223372036854775809"));
    EXPECT_EQ(INT64_MAX, ParseInt64("184467440737095516160000"));
}

TEST(DecodeHexBytes, PairsAndOddTail_LowBytesAppended) {
    std::vector<BYTE> bytes{0x55, 0x66, 0x77};
    DecodeHexBytes("0A1B", &bytes);
    EXPECT_EQ((std::vector<BYTE>{0x0A, 0x1B}), bytes);
    DecodeHexBytes("ABC", &bytes);
    EXPECT_EQ((std::vector<BYTE>{0xAB, 0x0C}), bytes);
    DecodeHexBytes("00000001674d401e", &bytes);
    EXPECT_EQ((std::vector<BYTE>{0x00, 0x00, 0x00, 0x01, 0x67, 0x4D, 0x40, 0x1E}), bytes);
    // A pair not starting with a digit gives 0; a bad second character leaves the first.
    DecodeHexBytes("zz1gG1", &bytes);
    EXPECT_EQ((std::vector<BYTE>{0x00, 0x01, 0x00}), bytes);
    DecodeHexBytes("", &bytes);
    EXPECT_TRUE(bytes.empty());
}

TEST(EqualsIgnoreCase, Keywords_FoldAsciiOnly) {
    EXPECT_TRUE(EqualsIgnoreCase("/MaNiFeSt", "/manifest"));
    EXPECT_TRUE(EqualsIgnoreCase("", ""));
    EXPECT_FALSE(EqualsIgnoreCase("video ", "video"));
    EXPECT_FALSE(EqualsIgnoreCase("vide", "video"));
    EXPECT_FALSE(EqualsIgnoreCase("videos", "video"));
}

class AttributeReaderTest : public testing::Test {
protected:
    void SetUp() override {
        m_file = std::make_unique<TempXmlFile>(
            "<e n=\"0x10\" neg=\"-1\" big=\"36000000000\" empty=\"\" t1=\"TRUE\" t2=\"True\" "
            "f1=\"false\" f2=\"1\" f3=\"yes\" f4=\" true\" cc4=\"H264\" cc3=\"AAC\" "
            "cc5=\"AACLX\" hex=\"119056e500\" odd=\"abc\"/>");
        ASSERT_EQ(S_OK, m_document.Load(m_file->Path()));
        CXmlElement element;
        ASSERT_EQ(S_OK, m_document.FindFirstElement("e", &element));
        ASSERT_EQ(S_OK, element.GetAttributes(&m_attributes));
    }

    std::unique_ptr<TempXmlFile> m_file;
    CXmlDocument m_document;
    CXmlAttributes m_attributes;
};

TEST_F(AttributeReaderTest, Numbers_PresentConvertedAbsentUntouched) {
    uint32_t u = 99;
    EXPECT_EQ(S_OK, ReadUInt32(m_attributes, "n", &u));
    EXPECT_EQ(16u, u);
    EXPECT_EQ(S_OK, ReadUInt32(m_attributes, "neg", &u));
    EXPECT_EQ(0xFFFFFFFFu, u);
    EXPECT_EQ(S_OK, ReadUInt32(m_attributes, "empty", &u));
    EXPECT_EQ(0u, u);
    u = 99;
    EXPECT_EQ(S_FALSE, ReadUInt32(m_attributes, "N", &u));
    EXPECT_EQ(99u, u);

    int64_t i = 7;
    EXPECT_EQ(S_OK, ReadInt64(m_attributes, "big", &i));
    EXPECT_EQ(36000000000, i);
    EXPECT_EQ(S_OK, ReadInt64(m_attributes, "neg", &i));
    EXPECT_EQ(-1, i);
    i = 7;
    EXPECT_EQ(S_FALSE, ReadInt64(m_attributes, "missing", &i));
    EXPECT_EQ(7, i);
}

TEST_F(AttributeReaderTest, Boolean_OnlyTrueInAnyCase) {
    const std::pair<const char*, BOOL> cases[] = {{"t1", 1}, {"t2", 1}, {"f1", 0},
                                                  {"f2", 0}, {"f3", 0}, {"f4", 0}};
    for (const auto& [name, expected] : cases) {
        BOOL value = 5;
        EXPECT_EQ(S_OK, ReadBoolean(m_attributes, name, &value)) << name;
        EXPECT_EQ(expected, value) << name;
    }
    BOOL value = 5;
    EXPECT_EQ(S_FALSE, ReadBoolean(m_attributes, "absent", &value));
    EXPECT_EQ(5, value);
}

TEST_F(AttributeReaderTest, FourCC_ExactlyFourCharactersElseAbsent) {
    uint32_t fourcc = 0;
    EXPECT_EQ(S_OK, ReadFourCC(m_attributes, "cc4", &fourcc));
    EXPECT_EQ(0x34363248u, fourcc);
    fourcc = 1;
    EXPECT_EQ(S_FALSE, ReadFourCC(m_attributes, "cc3", &fourcc));
    EXPECT_EQ(S_FALSE, ReadFourCC(m_attributes, "cc5", &fourcc));
    EXPECT_EQ(S_FALSE, ReadFourCC(m_attributes, "empty", &fourcc));
    EXPECT_EQ(S_FALSE, ReadFourCC(m_attributes, "absent", &fourcc));
    EXPECT_EQ(1u, fourcc);
}

TEST_F(AttributeReaderTest, HexBytesAndText_ValuesAndStatuses) {
    std::vector<BYTE> bytes{1, 2, 3};
    EXPECT_EQ(S_OK, ReadHexBytes(m_attributes, "hex", &bytes));
    EXPECT_EQ((std::vector<BYTE>{0x11, 0x90, 0x56, 0xE5, 0x00}), bytes);
    EXPECT_EQ(S_OK, ReadHexBytes(m_attributes, "odd", &bytes));
    EXPECT_EQ((std::vector<BYTE>{0xAB, 0x0C}), bytes);
    EXPECT_EQ(S_FALSE, ReadHexBytes(m_attributes, "absent", &bytes));
    EXPECT_EQ(2u, bytes.size());

    std::string text = "kept";
    EXPECT_EQ(S_FALSE, ReadText(m_attributes, "absent", &text));
    EXPECT_EQ("kept", text);
    EXPECT_EQ(S_OK, ReadText(m_attributes, "empty", &text));
    EXPECT_EQ("", text);
}
