// The media type each stream offers: the byte layout of every format block.
#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <utility>
#include <vector>

#include "framework/media_type.h"
#include "manifest/audio_stream.h"
#include "manifest/avc_configuration.h"
#include "manifest/manifest.h"
#include "manifest/video_stream.h"

namespace {

using Bytes = std::vector<BYTE>;

// Baseline 320x240 without VUI, and a picture parameter set.
const Bytes kSps = {0x67, 0x42, 0xc0, 0x1e, 0xda, 0x05, 0x07, 0xe4};
const Bytes kPps = {0x68, 0xce, 0x3c, 0x80};
const Bytes kStart4 = {0, 0, 0, 1};
const Bytes kStart3 = {0, 0, 1};

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}
Bytes Length16(const Bytes& unit) {
    return Cat({{BYTE(unit.size() >> 8), BYTE(unit.size())}, unit});
}
VIDEOINFOHEADER VideoHeader(const CMediaType& type) {
    VIDEOINFOHEADER header;
    EXPECT_GE(type.cbFormat, sizeof header);
    std::memcpy(&header, type.pbFormat, sizeof header);
    return header;
}
// The box the muxers expect for these parameter sets.
Bytes ExpectedBox(std::initializer_list<Bytes> sps, std::initializer_list<Bytes> pps) {
    const Bytes& first = *sps.begin();
    Bytes body = Cat({{'a', 'v', 'c', 'C', 1},
                      Bytes(first.begin() + 1, first.begin() + 4),
                      {0xFF, BYTE(0xE0 | sps.size())}});
    for (const Bytes& unit : sps)
        body = Cat({body, Length16(unit)});
    body.push_back(BYTE(pps.size()));
    for (const Bytes& unit : pps)
        body = Cat({body, Length16(unit)});
    const size_t size = body.size() + 4;
    return Cat({{BYTE(size >> 24), BYTE(size >> 16), BYTE(size >> 8), BYTE(size)}, body});
}

TEST(AvcConfiguration, LayoutsAndEveryParameterSet) {
    Bytes sps2 = kSps;
    sps2.back() ^= 0x10;
    const Bytes pps2 = {0x68, 0xee, 0x3c, 0x80};
    const std::pair<Bytes, Bytes> cases[] = {
        {Cat({kStart4, kSps, kStart4, kPps}), ExpectedBox({kSps}, {kPps})},
        // Three-byte start codes, a leading unit of another type; only a zero before a
        // start code is dropped.
        {Cat({kStart3, {0x09, 0x10}, kStart3, kSps, kStart4, kPps, {0}}),
         ExpectedBox({kSps}, {Cat({kPps, {0}})})},
        {Cat({Length16(kSps), Length16(kPps)}), ExpectedBox({kSps}, {kPps})},
        // Two of each, interleaved with other units: all of them, counted.
        {Cat({Length16(kSps), Length16(kPps), Length16({0x06, 0x05}), Length16(sps2),
              Length16(pps2)}),
         ExpectedBox({kSps, sps2}, {kPps, pps2})},
        {Cat({kStart4, kSps}), {}},
        {Cat({kStart4, kPps, kStart4, kPps}), {}},
        {Bytes{0, 0, 0, 1, 0x67, 0x42, 0xc0, 0x1e}, {}},
        {{}, {}},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Bytes& input = cases[i].first;
        Bytes box = {1};
        EXPECT_EQ(BuildAvcConfiguration(input.data(), input.size(), &box),
                  cases[i].second.empty() ? E_FAIL : S_OK)
            << i;
        EXPECT_EQ(box, cases[i].second) << i;
    }
}

class MediaTypesTest : public testing::Test {
protected:
    MediaTypesTest() {
        m_video.TimeScale = 10000000;
        m_videoTrack.Bitrate = 600000;
        m_videoTrack.MaxWidth = 640;
        m_videoTrack.MaxHeight = 360;
        m_video.CurrentTrack = &m_videoTrack;
        m_audio.CurrentTrack = &m_audioTrack;
    }

    CSSFManifest m_manifest;
    CSSFVideoStream m_video{&m_manifest};
    CSSFAudioStream m_audio{&m_manifest};
    CSSFVideoTrack m_videoTrack{&m_video};
    CSSFAudioTrack m_audioTrack{&m_audio};
};

TEST_F(MediaTypesTest, H264_AvcBoxAfterTheHeaderAndTheDefaultFrameRate) {
    m_videoTrack.FourCC = 0x34363248; // "H264"
    m_videoTrack.CodecPrivateData = Cat({kStart4, kSps, kStart4, kPps});
    CMediaType type;
    ASSERT_EQ(m_videoTrack.GetMediaType(0, &type), S_OK);
    // The subtype, header and box are compared byte for byte by kvssf info's tests.
    EXPECT_EQ(VideoHeader(type).AvgTimePerFrame, 333333) << "no timing: 30 frames per second";

    // Without a picture parameter set the box fails, not the type.
    m_videoTrack.CodecPrivateData = Cat({kStart4, kSps, kStart4, {0x06, 0x05}});
    ASSERT_EQ(m_videoTrack.GetMediaType(0, &type), S_OK);
    EXPECT_EQ(type.cbFormat, 88u);
    EXPECT_EQ(m_videoTrack.GetMediaType(-1, &type), E_INVALIDARG);
    EXPECT_EQ(m_videoTrack.GetMediaType(0, nullptr), E_POINTER);
}

TEST_F(MediaTypesTest, OtherFourCCs_CodecDataUnchangedFrameTimeFromTheProbe) {
    m_videoTrack.FourCC = 0x31435641; // "AVC1"
    m_videoTrack.CodecPrivateData = {1, 2, 3};
    m_videoTrack.MaxWidth = 321; // rows of 24-bit pixels are padded to 4 bytes
    m_video.FrameDuration = 400000;
    CMediaType type;
    ASSERT_EQ(m_videoTrack.GetMediaType(0, &type), S_OK);
    const GUID avc1 = {0x31435641, 0, 0x10, {0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71}};
    EXPECT_EQ(type.subtype, avc1);
    ASSERT_EQ(type.cbFormat, 91u);
    const VIDEOINFOHEADER header = VideoHeader(type);
    EXPECT_EQ(header.AvgTimePerFrame, 400000);
    EXPECT_EQ(header.bmiHeader.biSize, 43u);
    EXPECT_EQ(header.bmiHeader.biCompression, 0x31435641u);
    EXPECT_EQ(header.bmiHeader.biSizeImage, 964u * 360);
    EXPECT_EQ(Bytes(type.pbFormat + 88, type.pbFormat + 91), (Bytes{1, 2, 3}));

    m_video.TimeScale = 90000;
    m_video.FrameDuration = 3600;
    ASSERT_EQ(m_videoTrack.GetMediaType(0, &type), S_OK);
    EXPECT_EQ(VideoHeader(type).AvgTimePerFrame, 400000);
    m_video.FrameDuration = 0;
    ASSERT_EQ(m_videoTrack.GetMediaType(0, &type), S_OK);
    EXPECT_EQ(VideoHeader(type).AvgTimePerFrame, 0);
}

TEST_F(MediaTypesTest, Audio_SynthesisedAacConfigurationAndSampleSize) {
    CMediaType type;
    m_audioTrack.AudioTag = 255;
    m_audioTrack.Channels = 2;
    m_audioTrack.BitsPerSample = 16;
    m_audioTrack.Bitrate = 128000;
    m_audioTrack.PacketSize = 4;
    const std::pair<uint32_t, Bytes> configs[] = {{44100, {0x12, 0x10}}, {48000, {0x11, 0x90}},
                                                  {88200, {0x10, 0x90}}, {8000, {0x15, 0x90}},
                                                  {7350, {0x16, 0x10}},  {12345, {0x10, 0x10}}};
    for (const auto& [rate, config] : configs) {
        m_audioTrack.SamplingRate = rate;
        ASSERT_EQ(m_audioTrack.GetMediaType(0, &type), S_OK);
        EXPECT_EQ(Bytes(type.pbFormat + 18, type.pbFormat + type.cbFormat), config) << rate;
    }
    EXPECT_EQ(type.lSampleSize, 16000u);

    // PCM and the WAVEFORMATEX fields are compared byte for byte by kvssf info's tests.
    m_audioTrack.AudioTag = 0x161;
    m_audioTrack.Bitrate = 7;
    ASSERT_EQ(m_audioTrack.GetMediaType(0, &type), S_OK);
    EXPECT_EQ(type.lSampleSize, 1u) << "no byte rate: the default size stays";
}

// A video stream that runs through a video processor.
class ProcessedVideoStream : public CSSFVideoStream {
public:
    using CSSFVideoStream::CSSFVideoStream;

protected:
    bool HasVideoProcessor() const override { return true; }
};

TEST_F(MediaTypesTest, Processed_Yuy2AtTheDisplaySize) {
    ProcessedVideoStream stream(&m_manifest);
    stream.TimeScale = 10000000;
    stream.FrameDuration = 400000;
    stream.DisplayWidth = 640;
    stream.DisplayHeight = 360;
    CMediaType type;
    EXPECT_EQ(stream.GetMediaType(0, &type), E_UNEXPECTED);
    CSSFVideoTrack track(&stream);
    track.FourCC = 0x31435657; // "WVC1"
    track.MaxWidth = 1280;
    track.MaxHeight = 720;
    stream.CurrentTrack = &track;
    ASSERT_EQ(stream.GetMediaType(0, &type), S_OK);
    ASSERT_EQ(type.cbFormat, 88u);
    const VIDEOINFOHEADER header = VideoHeader(type);
    EXPECT_EQ(header.AvgTimePerFrame, 400000);
    EXPECT_EQ(header.dwBitRate, 640u * 360 * 2 * 8 * 25);
    EXPECT_EQ(header.bmiHeader.biWidth, 640);
    ALLOCATOR_PROPERTIES properties = {};
    ASSERT_EQ(stream.DecideBufferSize(nullptr, &properties), S_OK);
    EXPECT_EQ(properties.cBuffers, 2);
    EXPECT_EQ(properties.cbBuffer, 640 * 360 * 2);

    stream.FrameDuration = 0;
    ASSERT_EQ(stream.GetMediaType(0, &type), S_OK);
    EXPECT_EQ(VideoHeader(type).dwBitRate, 0u);
    EXPECT_EQ(stream.GetMediaType(1, &type), VFW_S_NO_MORE_ITEMS);
    // The plain stream offers its track's type.
    m_videoTrack.FourCC = 0x31435657;
    ASSERT_EQ(m_video.GetMediaType(0, &type), S_OK);
    EXPECT_EQ(type.subtype.Data1, 0x31435657u);
    m_video.CurrentTrack = nullptr;
    EXPECT_EQ(m_video.GetMediaType(0, &type), E_UNEXPECTED);
}

} // namespace
