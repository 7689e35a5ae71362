// The box parser over bodies built here, and over fragments the origin serves.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

#include "fragments/fragment.h"
#include "manifest/fragment_url.h"
#include "manifest/manifest.h"
#include "tests/support/origin.h"
#include "tests/support/temp_directory.h"

namespace {

using Bytes = std::vector<BYTE>;

void Put32(Bytes* out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out->push_back(BYTE(v >> shift));
}
void Put64(Bytes* out, uint64_t v) {
    Put32(out, uint32_t(v >> 32));
    Put32(out, uint32_t(v));
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

class BoxParserTest : public testing::Test {
protected:
    ~BoxParserTest() override {
        m_fragment.Reset();
        for (const std::string& name : m_files)
            std::remove(name.c_str());
    }
    HRESULT Parse(const Bytes& body) {
        m_fragment.Reset();
        std::string name;
        FILE* stream = nullptr;
        EXPECT_EQ(CreateTempFile(false, &name, &stream), S_OK);
        m_files.push_back(name);
        if (!body.empty())
            std::fwrite(body.data(), 1, body.size(), stream);
        std::fflush(stream);
        std::fseek(stream, 0, SEEK_SET);
        m_fragment.HttpFile.Stream = stream;
        m_fragment.HttpFile.FileName = name;
        return m_fragment.ParseFragment();
    }

    CSSFFragment m_fragment{""};
    std::vector<std::string> m_files;
};

TEST_F(BoxParserTest, Fragment_DefaultsFirstSampleFlagsAndBackToBackPositions) {
    Bytes styp = Box("styp", Bytes(8, 'x'));
    Bytes moof = Moof(ThreeSampleTraf(Uuid(kTfxd, Bytes(16, 0))));
    Bytes body = Cat({styp, Box("free", {}), moof, Box("mdat", Bytes(600, 0xAA))});
    ASSERT_EQ(Parse(body), S_OK);
    const CSSFFragment& f = m_fragment;
    EXPECT_EQ(f.MoofOffset, styp.size() + 8);
    EXPECT_EQ(f.BaseDataOffset, f.MoofOffset);
    EXPECT_EQ(f.SequenceNumber, 7u);
    EXPECT_EQ(f.TrackId, 1u);
    EXPECT_EQ(f.DataOffset, 123);
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
}

TEST_F(BoxParserTest, Trun_EveryFieldSecondTrunReplacesAndSdtpOverrides) {
    Bytes first = FullBox("trun", 0, 0x001, Words({5, 0}));
    Bytes second = FullBox("trun", 1, 0xF00,
                           Words({2, 10, 20, 0x00000000, 5, //
                                  30, 40, 0x01000000, 7}));
    Bytes sdtp = FullBox("sdtp", 0, 0, {0x10, 0xE0});
    Bytes traf =
        Box("traf",
            Cat({FullBox("tfhd", 0, 0x01, Cat({Words({2}), Bytes(8, 0)})), first, second, sdtp}));
    ASSERT_EQ(Parse(Cat({Moof(traf), Box("mdat", {})})), S_OK);
    const CSSFFragment& f = m_fragment;
    EXPECT_EQ(f.BaseDataOffset, 0u);
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
    Bytes v1 = Uuid(kTfrf, Cat({Words({0x01000000}), Bytes{2}, Bytes{}}));
    Put64(&v1, uint64_t(1) << 40);
    Put64(&v1, 20000000);
    Put64(&v1, (uint64_t(1) << 40) + 20000000);
    Put64(&v1, 20000000);
    // Fix up the box size for the appended entries.
    v1[3] = BYTE(v1.size());
    ASSERT_EQ(Parse(Cat({Moof(ThreeSampleTraf(v1)), Box("mdat", {})})), S_OK);
    EXPECT_EQ(m_fragment.TfrfVersion, 1);
    ASSERT_EQ(m_fragment.LookaheadCount, 2);
    EXPECT_EQ(m_fragment.Lookahead[1].AbsoluteTime, (uint64_t(1) << 40) + 20000000);
    EXPECT_EQ(m_fragment.Lookahead[1].Duration, 20000000u);

    Bytes v0 = Uuid(kTfrf, Cat({Words({0}), Bytes{1}, Words({4000000000u, 9})}));
    ASSERT_EQ(Parse(Cat({Moof(ThreeSampleTraf(v0)), Box("mdat", {})})), S_OK);
    ASSERT_EQ(m_fragment.LookaheadCount, 1);
    EXPECT_EQ(m_fragment.Lookahead[0].AbsoluteTime, 4000000000u);
    EXPECT_EQ(m_fragment.Lookahead[0].Duration, 9u);
}

TEST_F(BoxParserTest, Sizes_ZeroAndLargeSizeBoxes) {
    Bytes large = {0, 0, 0, 1, 'f', 'r', 'e', 'e'};
    Put64(&large, 16 + 4);
    Put32(&large, 0);
    Bytes toEnd = {0, 0, 0, 0, 'm', 'd', 'a', 't', 1, 2, 3};
    ASSERT_EQ(Parse(Cat({large, Moof(ThreeSampleTraf()), toEnd})), S_OK);
    EXPECT_EQ(m_fragment.MoofOffset, large.size());
    EXPECT_EQ(m_fragment.Samples[0].DataPosition,
              large.size() + Moof(ThreeSampleTraf()).size() + 8);
    // An mdat before any moof: no samples, and the parse stops there.
    ASSERT_EQ(Parse(Cat({Box("mdat", {}), Moof(ThreeSampleTraf())})), S_OK);
    EXPECT_EQ(m_fragment.SampleCount, 0u);

    // A 64-bit size from 2^63 up overruns any container, however its count reads: no
    // table of that count is allocated (found by fuzzing).
    Bytes huge = {0, 0, 0, 1, 't', 'r', 'u', 'n'};
    Put64(&huge, 0xD000000000000000ull);
    huge.insert(huge.end(), {0, 0, 0x01, 0x00});
    Put32(&huge, 0x8DA7F6F7);
    EXPECT_EQ(Parse(Cat({Moof(Box("traf", huge)), Box("mdat", {})})), E_FAIL);
    Bytes top = {0, 0, 0, 1, 'f', 'r', 'e', 'e'};
    Put64(&top, ~uint64_t(0));
    EXPECT_EQ(Parse(Cat({top, Moof(ThreeSampleTraf())})), E_FAIL);
}

TEST_F(BoxParserTest, Malformed_TruncatedOverrunningAndHostileBodiesFail) {
    const Bytes good = Cat({Moof(ThreeSampleTraf()), Box("mdat", Bytes(600, 0))});
    EXPECT_EQ(Parse(Moof(ThreeSampleTraf())), E_FAIL) << "no mdat";
    EXPECT_EQ(Parse(Bytes(good.begin(), good.begin() + 40)), E_FAIL) << "cut in the moof";
    EXPECT_EQ(Parse({}), E_FAIL);

    Bytes overrun = Moof(ThreeSampleTraf());
    overrun[3 + 8 + 16] += 1; // the traf claims a byte more than the moof holds
    EXPECT_EQ(Parse(Cat({overrun, Box("mdat", {})})), E_FAIL);
    EXPECT_EQ(Parse(Cat({Box("mdat", {}), Bytes{0, 0, 0, 3, 'f', 'r', 'e', 'e'}})), S_OK);
    EXPECT_EQ(Parse(Bytes{0, 0, 0, 3, 'f', 'r', 'e', 'e', 0, 0, 0, 8, 'm', 'd', 'a', 't'}), E_FAIL)
        << "a box smaller than its header";
    EXPECT_EQ(Parse(Box("uuid", Bytes(15, 0))), E_FAIL);

    // A field read past its box: a trun whose payload is one sample short.
    Bytes shortTrun = FullBox("trun", 0, 0x200, Words({3, 1, 2}));
    EXPECT_EQ(Parse(Cat({Moof(Box("traf", shortTrun)), Box("mdat", {})})), E_FAIL);
    // Hostile counts fail without allocating their tables.
    Bytes hostile = FullBox("trun", 0, 0x300, Words({0xFFFFFFFF, 1, 2}));
    EXPECT_EQ(Parse(Cat({Moof(Box("traf", hostile)), Box("mdat", {})})), E_FAIL);
    Bytes fieldless = FullBox("trun", 0, 0, Words({0xFFFFFFFF}));
    EXPECT_EQ(Parse(Cat({Moof(Box("traf", fieldless)), Box("mdat", {})})), E_OUTOFMEMORY);
    Bytes tfrf = Uuid(kTfrf, Cat({Words({0}), Bytes{255}, Words({1, 2})}));
    EXPECT_EQ(Parse(Cat({Moof(ThreeSampleTraf(tfrf)), Box("mdat", {})})), E_FAIL);
}

TEST(FragmentDownload, ServedFragmentsParseToTheirChunk) {
    std::string base = OriginUrl("nginx");
    ASSERT_FALSE(base.empty());
    CSSFManifest manifest;
    ASSERT_EQ(manifest.Load((base + "media/vod/pres.ism/Manifest").c_str()), S_OK);
    for (const auto& stream : manifest.Streams) {
        for (uint32_t chunk : {0u, 4u}) {
            CSSFTrack& track = *stream->CurrentTrack;
            CSSFFragment fragment(BuildFragmentUrl(track, chunk).c_str());
            ASSERT_EQ(fragment.Download(), S_OK) << fragment.Url;
            ASSERT_GT(fragment.SampleCount, 0u);
            EXPECT_TRUE(fragment.BitrateMeasured || fragment.MeasuredBitrate == ~uint64_t(0));
            // Within a few ticks of the manifest's chunk duration.
            const int64_t duration = stream->Chunks[chunk].Duration;
            EXPECT_NEAR(double(fragment.TotalDuration), double(duration), duration * 0.05);
            if (stream->GetStreamKind() == SSFStreamKind::Video) {
                EXPECT_TRUE(IsSyncSample(fragment.Samples[0].Flags));
            }
            // The samples fill the mdat payload exactly.
            int64_t length = 0;
            fragment.HttpFile.GetLength(&length);
            const SSFSample& last = fragment.Samples.back();
            EXPECT_EQ(last.DataPosition + last.Size, uint64_t(length));
            EXPECT_EQ(fragment.Reset(), S_OK);
            EXPECT_EQ(fragment.SampleCount, 0u);
            EXPECT_TRUE(fragment.HttpFile.FileName.empty());
        }
    }
    CSSFFragment missing((base + "media/vod/pres.ism/none").c_str());
    EXPECT_EQ(missing.Download(), HRESULT(0x80070002));
}

// Every prefix of a served fragment fails cleanly; the whole body parses. The file is
// cut shorter and reopened for each length, last byte first.
TEST(FragmentDownload, EveryTruncationOfServedFragmentsFails) {
    ScopedTempDirectory temp;
    std::string base = OriginUrl("nginx");
    ASSERT_FALSE(base.empty());
    for (const char* path : {"QualityLevels(100000)/Fragments(video=80000000)",
                             "QualityLevels(128000)/Fragments(audio=0)"}) {
        CSSFFragment served((base + "media/vod/pres.ism/" + path).c_str());
        ASSERT_EQ(served.Download(), S_OK) << path;
        const uint32_t samples = served.SampleCount;
        int64_t length = 0;
        served.HttpFile.GetLength(&length);
        Bytes body(static_cast<size_t>(length));
        served.HttpFile.Seek(0, 0);
        ASSERT_EQ(served.HttpFile.ReadExact(body.data(), body.size()), S_OK);
        served.Reset();

        const std::string name = temp.Path() + "/cut";
        FILE* out = std::fopen(name.c_str(), "wb");
        ASSERT_NE(out, nullptr);
        std::fwrite(body.data(), 1, body.size(), out);
        std::fclose(out);
        CSSFFragment fragment("");
        for (size_t cut = body.size() + 1; cut-- > 0;) {
            std::filesystem::resize_file(name, cut);
            fragment.HttpFile.Stream = std::fopen(name.c_str(), "rb");
            ASSERT_NE(fragment.HttpFile.Stream, nullptr);
            const HRESULT hr = fragment.ParseFragment();
            if (cut == body.size()) {
                ASSERT_EQ(hr, S_OK) << path;
                EXPECT_EQ(fragment.SampleCount, samples);
            } else {
                ASSERT_EQ(hr, E_FAIL) << path << " cut at " << cut;
            }
            fragment.Reset();
        }
    }
}

} // namespace
