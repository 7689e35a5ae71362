// Loading presentations from the test origin through the HTTP client; the served models
// and error codes are compared by kvssf info's tests, these are the reloads.
#include <gtest/gtest.h>

#include <string>

#include "manifest/manifest.h"
#include "tests/support/origin.h"

namespace {

std::string Media(const char* path) {
    std::string base = OriginUrl("nginx");
    return base.empty() ? "" : base + "media/" + path;
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
            earliest,
            REFERENCE_TIME(TicksToReferenceTime(
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
    EXPECT_EQ(manifest.Load((url + "/").c_str()), E_FAIL);
    EXPECT_EQ(manifest.Load(nullptr), E_FAIL);
    // A failed reload leaves no part of the model before it.
    ASSERT_EQ(manifest.Load(url.c_str()), S_OK);
    EXPECT_EQ(manifest.Load(Media("vod/missing.ism/MANIFEST").c_str()), HRESULT(0x80070002));
    EXPECT_TRUE(manifest.Streams.empty());
    ASSERT_EQ(manifest.Load(url.c_str()), S_OK);
    EXPECT_EQ(manifest.Load((faults + "malformed/Manifest").c_str()), HRESULT(0x8004022F));
    EXPECT_TRUE(manifest.Streams.empty());
    EXPECT_TRUE(manifest.BaseUrl.empty());
}

} // namespace
