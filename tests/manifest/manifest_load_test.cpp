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

// Where the window starts and StartTime come from is the parser tests' part.
TEST(ManifestLoad, Live_RefreshOfTheSameDocumentKeepsTheModel) {
    std::string url = Media("live/pres.ism/Manifest");
    ASSERT_FALSE(url.empty());
    CSSFManifest manifest;
    ASSERT_EQ(manifest.Load(url.c_str()), S_OK);
    EXPECT_TRUE(manifest.IsLive);
    ASSERT_FALSE(manifest.Streams.empty());
    for (const auto& stream : manifest.Streams)
        EXPECT_GT(uint64_t(stream->Chunks.at(0).StartTime), uint64_t(1) << 32);
    const size_t chunks = manifest.Streams[0]->Chunks.size();
    const REFERENCE_TIME startTime = manifest.StartTime;
    EXPECT_GT(startTime, 0);
    EXPECT_EQ(manifest.Refresh(), S_OK);
    EXPECT_EQ(manifest.Streams[0]->Chunks.size(), chunks);
    EXPECT_EQ(manifest.StartTime, startTime);
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
