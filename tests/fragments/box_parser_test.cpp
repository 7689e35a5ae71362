// The box parser over bodies built here.
#include <gtest/gtest.h>

#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

#include "fragments/box_parser.h"
#include "fragments/http_file.h"

namespace {

using Bytes = std::vector<BYTE>;

void Put32(Bytes* out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out->push_back(BYTE(v >> shift));
}
Bytes Words(std::initializer_list<uint32_t> words) {
    Bytes out;
    for (uint32_t w : words)
        Put32(&out, w);
    return out;
}
Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}
Bytes Box(const char* type, const Bytes& payload) {
    Bytes out;
    Put32(&out, uint32_t(8 + payload.size()));
    out.insert(out.end(), type, type + 4);
    return Cat({out, payload});
}
// A full box: version and flags, then the payload.
Bytes FullBox(const char* type, BYTE version, uint32_t flags, const Bytes& payload) {
    return Box(type, Cat({Words({uint32_t(version) << 24 | flags}), payload}));
}
Bytes Uuid(const Bytes& extendedType, const Bytes& payload) {
    return Box("uuid", Cat({extendedType, payload}));
}
const Bytes kTfrf = {0xd4, 0x80, 0x7e, 0xf2, 0xca, 0x39, 0x46, 0x95,
                     0x8e, 0x54, 0x26, 0xcb, 0x9e, 0x46, 0xa7, 0x9f};
const Bytes kTfxd = {0x6d, 0x1d, 0x9b, 0x05, 0x42, 0xd5, 0x44, 0xe6,
                     0x80, 0xe2, 0x14, 0x1d, 0xaf, 0xf7, 0x57, 0xb2};

// tfhd with default duration, size and flags; trun with data offset, first-sample flags
// and per-sample sizes of 100, 200 and 300 bytes.
Bytes ThreeSampleTraf(const Bytes& extra = {}) {
    Bytes tfhd = FullBox("tfhd", 0, 0x38, Words({1, 20000000, 50, 0x01010000}));
    Bytes trun = FullBox("trun", 0, 0x205, Words({3, 123, 0x02000000, 100, 200, 300}));
    return Box("traf", Cat({tfhd, trun, extra}));
}
Bytes Moof(const Bytes& traf) {
    return Box("moof", Cat({FullBox("mfhd", 0, 0, Words({7})), traf}));
}

// A failed read fails every later one, with bytes left, and leaves its output alone; a
// sub-cursor ends where its box does and moves its parent past it.
TEST(BoxCursor, Reads_FailureIsStickyAndBounded) {
    const BYTE bytes[] = {1, 2, 3, 4, 5, 6, 7};
    uint32_t word = 0;
    BYTE b = 0;
    for (bool viaSub : {false, true}) {
        CBoxCursor cursor(bytes, sizeof bytes);
        ASSERT_TRUE(cursor.Read32(&word));
        EXPECT_FALSE(viaSub ? cursor.Sub(4).Ok() : cursor.Read32(&word));
        EXPECT_EQ(word, 0x01020304u);
        EXPECT_FALSE(cursor.Read8(&b) || cursor.Ok() || cursor.Left() != 0) << viaSub;
    }
    CBoxCursor cursor(bytes, sizeof bytes);
    CBoxCursor sub = cursor.Sub(4);
    EXPECT_TRUE(sub.Read32(&word) && !sub.Read8(&b));
    EXPECT_TRUE(cursor.Read8(&b) && b == 5 && cursor.Holds(2, 1) && !cursor.Holds(3, 1));
}

class BoxParserTest : public testing::Test {
protected:
    // Parses body from a file that is gone again afterwards: the parse keeps no byte of it.
    HRESULT Parse(const Bytes& body) {
        m_parsed = SSFParsedFragment();
        CHttpFile file;
        EXPECT_EQ(CreateTempFile(&file.Stream), S_OK);
        if (!body.empty()) // an empty vector's data() may be null
            std::fwrite(body.data(), 1, body.size(), file.Stream);
        std::fseek(file.Stream, 0, SEEK_SET);
        const HRESULT hr = CBoxParser(&m_parsed).Parse(&file);
        file.Close();
        return hr;
    }

    SSFParsedFragment m_parsed;
};

TEST_F(BoxParserTest, Fragment_DefaultsFirstSampleFlagsAndBackToBackPositions) {
    Bytes styp = Box("styp", Bytes(8, 'x'));
    Bytes moof = Moof(ThreeSampleTraf(Uuid(kTfxd, Bytes(16, 0))));
    Bytes body = Cat({styp, Box("free", {}), moof, Box("mdat", Bytes(600, 0xAA))});
    ASSERT_EQ(Parse(body), S_OK);
    const SSFParsedFragment& f = m_parsed;
    EXPECT_EQ(f.MoofOffset, styp.size() + 8);
    EXPECT_EQ(f.Tfhd.BaseDataOffset, f.MoofOffset);
    EXPECT_EQ(f.Mfhd.SequenceNumber, 7u);
    EXPECT_EQ(f.Tfhd.TrackId, 1u);
    EXPECT_EQ(f.Trun.DataOffset, 123);
    ASSERT_EQ(f.SampleCount, 3u);
    EXPECT_EQ(f.TotalDuration, 60000000u);
    const uint64_t payload = styp.size() + 8 + moof.size() + 8;
    const uint64_t positions[] = {payload, payload + 100, payload + 300};
    for (uint32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(f.Samples[i].DecodeOffset, 20000000u * i);
        EXPECT_EQ(f.Samples[i].Duration, 20000000u);
        EXPECT_EQ(f.Samples[i].Size, 100u * (i + 1));
        EXPECT_EQ(f.Samples[i].DataPosition, positions[i]);
        EXPECT_EQ(IsSyncSample(f.Samples[i].Flags), i == 0) << i;
    }
    EXPECT_EQ(f.Samples[1].Flags, 0x01010000u);
    // Every cut fails, one in the mdat's payload included.
    for (size_t cut = 0; cut < body.size(); ++cut)
        ASSERT_EQ(Parse(Bytes(body.begin(), body.begin() + cut)), E_FAIL) << cut;
}

TEST_F(BoxParserTest, Trun_EveryFieldSecondTrunReplacesAndSdtpOverrides) {
    Bytes first = FullBox("trun", 0, 0x001, Words({5, 0}));
    Bytes second = FullBox("trun", 1, 0xF00, Words({2, 10, 20, 0, 5, 30, 40, 0x01000000, 7}));
    Bytes sdtp = FullBox("sdtp", 0, 0, {0x10, 0xE0});
    Bytes traf =
        Box("traf",
            Cat({FullBox("tfhd", 0, 0x01, Cat({Words({2}), Bytes(8, 0)})), first, second, sdtp}));
    ASSERT_EQ(Parse(Cat({Moof(traf), Box("mdat", {})})), S_OK);
    const SSFParsedFragment& f = m_parsed;
    EXPECT_EQ(f.Tfhd.BaseDataOffset, 0u);
    ASSERT_EQ(f.SampleCount, 2u);
    EXPECT_EQ(f.TotalDuration, 40u);
    EXPECT_EQ(f.Samples[1].DecodeOffset, 10u);
    EXPECT_EQ(f.Samples[1].Size, 40u);
    EXPECT_EQ(f.Samples[0].CompositionOffset, 5u);
    EXPECT_EQ(f.Samples[1].CompositionOffset, 7u);
    // sdtp bits replace bits 20-25; the top two bits of its byte are dropped.
    EXPECT_EQ(f.Samples[0].Flags, 0x01000000u);
    EXPECT_FALSE(IsSyncSample(f.Samples[0].Flags));
    EXPECT_EQ(f.Samples[1].Flags, 0x02000000u);
    EXPECT_TRUE(IsSyncSample(f.Samples[1].Flags));
}

TEST_F(BoxParserTest, Tfrf_Version1And0AnnounceLaterChunks) {
    // Version 1: 64-bit times and durations, here 2^40 + 20000000 and 20000000.
    Bytes v1 = Uuid(kTfrf, Cat({Words({0x01000000}), Bytes{2},
                                Words({0x100, 0, 0, 20000000, 0x100, 20000000, 0, 20000000})}));
    ASSERT_EQ(Parse(Cat({Moof(ThreeSampleTraf(v1)), Box("mdat", {})})), S_OK);
    EXPECT_EQ(m_parsed.Tfrf.Version, 1);
    ASSERT_EQ(m_parsed.LookaheadCount, 2);
    EXPECT_EQ(m_parsed.Lookahead[1].AbsoluteTime, (uint64_t(1) << 40) + 20000000);
    EXPECT_EQ(m_parsed.Lookahead[1].Duration, 20000000u);

    Bytes v0 = Uuid(kTfrf, Cat({Words({0}), Bytes{1}, Words({4000000000u, 9})}));
    ASSERT_EQ(Parse(Cat({Moof(ThreeSampleTraf(v0)), Box("mdat", {})})), S_OK);
    ASSERT_EQ(m_parsed.LookaheadCount, 1);
    EXPECT_EQ(m_parsed.Lookahead[0].AbsoluteTime, 4000000000u);
    EXPECT_EQ(m_parsed.Lookahead[0].Duration, 9u);
}

TEST_F(BoxParserTest, Sizes_ZeroAndLargeSizeBoxes) {
    const Bytes large = Cat({Bytes{0, 0, 0, 1, 'f', 'r', 'e', 'e'}, Words({0, 16 + 4, 0})});
    Bytes toEnd = {0, 0, 0, 0, 'm', 'd', 'a', 't', 1, 2, 3};
    ASSERT_EQ(Parse(Cat({large, Moof(ThreeSampleTraf()), toEnd})), S_OK);
    EXPECT_EQ(m_parsed.MoofOffset, large.size());
    EXPECT_EQ(m_parsed.Samples[0].DataPosition, large.size() + Moof(ThreeSampleTraf()).size() + 8);
    // An mdat before any moof: no samples, and the parse stops there.
    ASSERT_EQ(Parse(Cat({Box("mdat", {}), Moof(ThreeSampleTraf())})), S_OK);
    EXPECT_EQ(m_parsed.SampleCount, 0u);
}

TEST_F(BoxParserTest, Malformed_TruncatedOverrunningAndHostileBodiesFail) {
    const Bytes moof = Moof(ThreeSampleTraf()), mdat = Box("mdat", {});
    auto inTraf = [&](const Bytes& box) { return Cat({Moof(Box("traf", box)), mdat}); };
    Bytes overrun = moof;
    overrun[3 + 8 + 16] += 1; // the traf claims a byte more than the moof holds
    // A 64-bit size from 2^63 up overruns any container, however its count reads: no
    // table of that count is allocated (found by fuzzing).
    Bytes huge =
        Cat({Bytes{0, 0, 0, 1, 't', 'r', 'u', 'n'}, Words({0xD0000000, 0, 0x100, 0x8DA7F6F7})});
    Bytes top = Cat({Bytes{0, 0, 0, 1, 'f', 'r', 'e', 'e'}, Words({~0u, ~0u})});
    Bytes tfrf = Uuid(kTfrf, Cat({Words({0}), Bytes{255}, Words({1, 2})}));
    const struct {
        const char* Name;
        Bytes Body;
        HRESULT Result;
    } cases[] = {
        {"no mdat", moof, E_FAIL},
        {"cut in the moof", Bytes(moof.begin(), moof.begin() + 40), E_FAIL},
        {"empty", {}, E_FAIL},
        {"traf past its moof", Cat({overrun, mdat}), E_FAIL},
        {"malformed after the mdat", Cat({mdat, Bytes{0, 0, 0, 3, 'f', 'r', 'e', 'e'}}), S_OK},
        {"uuid without its type", Cat({Box("uuid", Bytes(15, 0)), mdat}), E_FAIL},
        {"trun a sample short", inTraf(FullBox("trun", 0, 0x200, Words({3, 1, 2}))), E_FAIL},
        {"count past the trun", inTraf(FullBox("trun", 0, 0x300, Words({~0u, 1, 2}))), E_FAIL},
        {"fieldless count", inTraf(FullBox("trun", 0, 0, Words({~0u}))), E_OUTOFMEMORY},
        {"count past the tfrf", Cat({Moof(ThreeSampleTraf(tfrf)), mdat}), E_FAIL},
        {"size from 2^63", inTraf(huge), E_FAIL},
        {"size all ones", Cat({top, moof}), E_FAIL},
    };
    for (const auto& test : cases)
        EXPECT_EQ(Parse(test.Body), test.Result) << test.Name;
    for (BYTE size = 2; size < 8; ++size) // smaller than its header
        EXPECT_EQ(Parse(Bytes{0, 0, 0, size, 'f', 'r', 'e', 'e', 0, 0, 0, 8, 'm', 'd', 'a', 't'}),
                  E_FAIL);
}

} // namespace
