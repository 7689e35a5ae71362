#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "manifest/fragment_url.h"
#include "manifest/manifest.h"
#include "manifest/video_stream.h"

namespace {

class FragmentUrlTest : public testing::Test {
protected:
    FragmentUrlTest() {
        m_manifest.BaseUrl = "http://h/p.ism/";
        m_stream.Chunks = {{0, 20000000}, {20000000, 20000000}, {40000000, 20000000}};
    }
    std::string Build(const char* templateUrl, uint32_t bitrate, uint32_t chunk) {
        m_stream.Url = templateUrl;
        m_track.Bitrate = bitrate;
        return BuildFragmentUrl(m_track, chunk);
    }
    void AddAttribute(const char* name, const char* value) {
        auto attribute = std::make_unique<CSSFAttribute>();
        attribute->Name = name;
        attribute->Value = value;
        m_track.Attributes.push_back(std::move(attribute));
    }

    CSSFManifest m_manifest;
    CSSFVideoStream m_stream{&m_manifest};
    CSSFVideoTrack m_track{&m_stream};
};

TEST_F(FragmentUrlTest, Tokens_EveryOccurrenceOfTheirSpellingsReplacedNothingEscaped) {
    EXPECT_EQ(Build("QualityLevels({bitrate},{CustomAttributes})/Fragments(video={start time})",
                    300000, 2),
              "http://h/p.ism/QualityLevels(300000,)/Fragments(video=40000000)");
    AddAttribute("Lang", "en");
    AddAttribute("Mode", "x");
    EXPECT_EQ(Build("QualityLevels({Bitrate},{CustomAttributes})/Fragments(audio={start_time})",
                    64000, 0),
              "http://h/p.ism/QualityLevels(64000,Lang=en,Mode=x)/Fragments(audio=0)");
    // Every occurrence, in these spellings only; nothing is escaped.
    EXPECT_EQ(Build("{bitrate}/{bitrate}/{BITRATE}/{start Time}", 7, 0),
              "http://h/p.ism/7/7/{BITRATE}/{start Time}");
    // Past the end of the list the start time is 0; the 64-bit value prints unsigned.
    EXPECT_EQ(Build("{start time}", 7, 3), "http://h/p.ism/0");
    m_stream.Chunks[0].StartTime = -1;
    EXPECT_EQ(Build("{start time}", 7, 0), "http://h/p.ism/18446744073709551615");
    // The base URL is searched too; inserted attribute values are not.
    m_manifest.BaseUrl = "http://h/{bitrate}/";
    AddAttribute("a b", "{bitrate}&?");
    EXPECT_EQ(Build("{CustomAttributes}", 9, 0), "http://h/9/Lang=en,Mode=x,a b={bitrate}&?");
}

TEST(ReplaceAll, InsertedTextNotSearchedAgain) {
    std::string text = "xx";
    ReplaceAll(&text, "x", "xx");
    EXPECT_EQ(text, "xxxx");
    ReplaceAll(&text, "xx", "");
    EXPECT_EQ(text, "");
}

} // namespace
