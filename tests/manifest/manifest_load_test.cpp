// Loading presentations from the test origin through the HTTP client.
#include <gtest/gtest.h>

#include <string>

#include "manifest/audio_stream.h"
#include "manifest/manifest.h"
#include "manifest/video_stream.h"
#include "tests/support/origin.h"

namespace {

std::string Media(const char* path) {
    std::string base = OriginUrl("nginx");
    return base.empty() ? "" : base + "media/" + path;
}

TEST(ManifestLoad, OnDemand_ModelOfTheServedPresentation) {
    std::string url = Media("vod/pres.ism/Manifest");
    ASSERT_FALSE(url.empty());
    CSSFManifest manifest;
    ASSERT_EQ(manifest.Load((url + "?_ssf_Bitrate=300000").c_str()), S_OK);
    EXPECT_EQ(manifest.BitrateOption, "300000");
    EXPECT_EQ(manifest.ManifestUrl, url + "?");
    EXPECT_EQ(manifest.BaseUrl, url.substr(0, url.size() - 8));
    EXPECT_FALSE(manifest.IsLive);
    EXPECT_EQ(manifest.Duration, 100213333);
    ASSERT_EQ(manifest.Streams.size(), 2u);

    auto& video = dynamic_cast<CSSFVideoStream&>(*manifest.Streams[0]);
    EXPECT_EQ(video.PinName, "video");
    EXPECT_EQ(video.Url, "QualityLevels({bitrate})/Fragments(video={start time})");
    ASSERT_EQ(video.Tracks.size(), 3u);
    EXPECT_EQ(video.TargetBitrate, 300000u);
    EXPECT_EQ(video.MaxWidth, 640u);
    EXPECT_EQ(video.MaxHeight, 360u);
    ASSERT_EQ(video.Chunks.size(), 5u);
    EXPECT_EQ(video.Chunks[4].StartTime, 80000000);
    EXPECT_EQ(video.GetFragmentSlotCount(), 5u);
    EXPECT_EQ(video.GetDuration(), 100000000);

    auto& audio = dynamic_cast<CSSFAudioStream&>(*manifest.Streams[1]);
    EXPECT_EQ(audio.TargetBitrate, 128000u);
    auto& track = dynamic_cast<CSSFAudioTrack&>(*audio.CurrentTrack);
    EXPECT_EQ(track.SamplingRate, 48000u);
    EXPECT_EQ(track.CodecPrivateData, (std::vector<BYTE>{0x11, 0x90, 0x56, 0xE5, 0x00}));
    EXPECT_EQ(manifest.GetDuration(), audio.GetDuration());
    EXPECT_EQ(manifest.StartTime, 0);
}

TEST(ManifestLoad, Languages_OptionPicksDefaultAudio) {
    std::string url = Media("lang/pres.ism/Manifest");
    ASSERT_FALSE(url.empty());
    CSSFManifest manifest;
    ASSERT_EQ(manifest.Load(url.c_str()), S_OK);
    ASSERT_EQ(manifest.Streams.size(), 3u);
    EXPECT_EQ(manifest.Streams[1]->PinName, "audio_eng");
    EXPECT_EQ(manifest.Streams[2]->PinName, "~audio_fra");

    ASSERT_EQ(manifest.Load((url + "?_ssf_Language=fra").c_str()), S_OK);
    ASSERT_EQ(manifest.Streams.size(), 3u);
    EXPECT_EQ(manifest.Streams[1]->PinName, "audio_fra");
    EXPECT_EQ(manifest.Streams[2]->PinName, "~audio_eng");
}

TEST(ManifestLoad, Live_PositionedInsideTheWindowWithStartTimeOfItsEarliestChunk) {
    std::string url = Media("live/pres.ism/Manifest");
    ASSERT_FALSE(url.empty());
    CSSFManifest manifest;
    ASSERT_EQ(manifest.Load(url.c_str()), S_OK);
    EXPECT_TRUE(manifest.IsLive);
    EXPECT_EQ(manifest.GetDuration(), kUnboundedTime);
    ASSERT_FALSE(manifest.Streams.empty());
    for (const auto& stream : manifest.Streams) {
        ASSERT_FALSE(stream->Chunks.empty());
        EXPECT_GT(uint64_t(stream->Chunks[0].StartTime), uint64_t(1) << 32);
        ASSERT_LT(stream->GetPosition().ChunkIndex, stream->Chunks.size());
        EXPECT_EQ(stream->GetEndTime(), kUnboundedTime);
    }
    // StartTime is the earliest current chunk, so the stream times handed out start near 0.
    REFERENCE_TIME earliest = kUnboundedTime;
    for (const auto& stream : manifest.Streams)
        earliest = std::min<REFERENCE_TIME>(
            earliest, REFERENCE_TIME(TicksToReferenceTime(
                          stream->Chunks[stream->GetPosition().ChunkIndex].StartTime, stream->TimeScale)));
    EXPECT_EQ(manifest.StartTime, earliest);
    EXPECT_GT(manifest.StartTime, 0);

    // A refresh of the same document keeps the model.
    size_t chunks = manifest.Streams[0]->Chunks.size();
    EXPECT_EQ(manifest.Refresh(), S_OK);
    EXPECT_EQ(manifest.Streams[0]->Chunks.size(), chunks);
    EXPECT_EQ(manifest.StartTime, earliest);
}

TEST(ManifestLoad, Failures_ClearErrorsAndClearedModel) {
    std::string url = Media("vod/pres.ism/Manifest");
    std::string faults = OriginUrl("faults");
    ASSERT_FALSE(url.empty());
    ASSERT_FALSE(faults.empty());
    CSSFManifest manifest;
    for (const char* suffix : {"/", ".xml"})
        EXPECT_EQ(manifest.Load((url + suffix).c_str()), E_FAIL) << suffix;
    EXPECT_EQ(manifest.Load(nullptr), E_FAIL);

    ASSERT_EQ(manifest.Load(url.c_str()), S_OK);
    EXPECT_EQ(manifest.Load(Media("vod/missing.ism/MANIFEST").c_str()), HRESULT(0x80070002));
    EXPECT_TRUE(manifest.Streams.empty());
    EXPECT_EQ(manifest.Load((faults + "status/401/Manifest").c_str()), E_ACCESSDENIED);
    EXPECT_EQ(manifest.Load((faults + "malformed/Manifest").c_str()), HRESULT(0x8004022F));
    EXPECT_TRUE(manifest.Streams.empty());
    EXPECT_TRUE(manifest.BaseUrl.empty());
}

} // namespace
