// URL options, the initial quality level and the order and names of the streams.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "manifest/audio_stream.h"
#include "manifest/manifest.h"
#include "tests/manifest/xml_file.h"

namespace {

// "url|language|bitrate" after the options are taken out of url.
std::string ParseOptions(const std::string& url) {
    CSSFManifest manifest;
    manifest.ManifestUrl = url;
    manifest.ParseUrlOptions();
    return manifest.ManifestUrl + "|" + manifest.LanguageOption + "|" + manifest.BitrateOption;
}

// The plain forms are compared by kvssf info's tests. An option without '=' has an empty
// value; a later occurrence wins.
TEST(UrlOptions, OptionsTakenOutOfQueryOthersKept) {
    const std::pair<const char*, const char*> cases[] = {
        {"http://h/Manifest?  _SSF_LANGUAGE \t=  fra &x&_ssf_bitrate", "http://h/Manifest?x&|fra|"},
        {"http://h/Manifest?_ssf_Bitrate=1&_ssf_Bitrate=auto", "http://h/Manifest?||auto"},
        {"http://h/Manifest?_ssf_languageX=1&=2", "http://h/Manifest?_ssf_languageX=1&=2||"}};
    for (const auto& [url, expected] : cases)
        EXPECT_EQ(ParseOptions(url), expected);
}

std::string VideoLevel(uint32_t bitrate) {
    return "<QualityLevel Bitrate=\"" + std::to_string(bitrate) +
           "\" FourCC=\"H264\" MaxWidth=\"64\" MaxHeight=\"32\" CodecPrivateData=\"00\"/>";
}

std::string AudioLevel(uint32_t bitrate) {
    return "<QualityLevel Bitrate=\"" + std::to_string(bitrate) +
           "\" SamplingRate=\"48000\" Channels=\"2\" BitsPerSample=\"16\" PacketSize=\"4\" "
           "AudioTag=\"255\" CodecPrivateData=\"1190\"/>";
}

std::string Stream(const std::string& type, const std::string& attributes,
                   const std::vector<uint32_t>& bitrates) {
    std::string levels;
    for (uint32_t bitrate : bitrates)
        levels += type == "video" ? VideoLevel(bitrate) : AudioLevel(bitrate);
    return "<StreamIndex Type=\"" + type + "\" " + attributes + " QualityLevels=\"" +
           std::to_string(bitrates.size()) + "\" Chunks=\"1\" Url=\"" + type +
           "/{bitrate}/{start time}\">" + levels + "<c d=\"10\"/></StreamIndex>";
}

class SelectionTest : public testing::Test {
protected:
    void Load(const std::string& body, const std::string& bitrate, const std::string& language) {
        m_manifest.Clear();
        m_manifest.BitrateOption = bitrate;
        m_manifest.LanguageOption = language;
        TempXmlFile file(SmoothDocument("Duration=\"10\"", body));
        ASSERT_EQ(m_manifest.LoadFromFile(file.Path()), S_OK);
    }
    uint64_t InitialVideoBitrate(const std::string& bitrate) {
        Load(Stream("video", "", {300000, 1500000, 800000}), bitrate, "");
        EXPECT_EQ(m_manifest.Streams.size(), 1u);
        if (m_manifest.Streams.empty())
            return 0;
        CSSFStream& stream = *m_manifest.Streams[0];
        EXPECT_EQ(stream.CurrentTrack->Bitrate, stream.TargetBitrate);
        return stream.TargetBitrate;
    }
    std::vector<std::string> PinNames() {
        std::vector<std::string> names;
        for (const auto& stream : m_manifest.Streams)
            names.push_back(stream->PinName);
        return names;
    }

    CSSFManifest m_manifest;
};

TEST_F(SelectionTest, InitialTrack_VideoFollowsBitrateOptionAudioAlwaysHighest) {
    // The distance is taken of the 32-bit difference: 300,000 - 4,000,000,000 wraps to
    // +295,267,296, the smallest of the three. 0xDBBA0 is 900,000.
    const std::pair<const char*, uint64_t> cases[] = {
        {"", 1500000},       {"HIGHEST", 1500000}, {"auto", 1500000}, {"Lowest", 300000},
        {"1000000", 800000}, {"0xDBBA0", 800000},  {"abc", 300000},   {"4000000000", 300000}};
    for (const auto& [option, bitrate] : cases)
        EXPECT_EQ(InitialVideoBitrate(option), bitrate) << option;

    // Equally close levels: the first listed wins; the same for equal bit rates.
    Load(Stream("video", "Name=\"v\"", {600, 400, 400}), "500", "");
    ASSERT_EQ(m_manifest.Streams.size(), 1u);
    EXPECT_EQ(m_manifest.Streams[0]->CurrentTrack, m_manifest.Streams[0]->Tracks[0].get());
    Load(Stream("video", "Name=\"v\"", {600, 400, 400}), "lowest", "");
    EXPECT_EQ(m_manifest.Streams[0]->CurrentTrack, m_manifest.Streams[0]->Tracks[1].get());
    Load(Stream("audio", "Name=\"a\"", {64000, 128000, 96000}), "lowest", "");
    ASSERT_EQ(m_manifest.Streams.size(), 1u);
    EXPECT_EQ(m_manifest.Streams[0]->TargetBitrate, 128000u);
}

// The Language attribute deciding is kvssf info's part; without it the name decides. The
// video comes first wherever it is listed; a second video is not a default.
TEST_F(SelectionTest, Streams_DefaultsFirstLanguageFromTheNameSecondVideoNotDefault) {
    Load(Stream("audio", "Name=\"audio_deu\"", {1}) + Stream("audio", "Name=\"audio_pol\"", {1}) +
             Stream("video", "Name=\"v\"", {1}),
         "", "POL");
    EXPECT_EQ(PinNames(), (std::vector<std::string>{"v", "audio_pol", "~audio_deu"}));
    Load(Stream("video", "Name=\"v1\"", {1}) + Stream("video", "Name=\"v2\"", {1}) +
             Stream("audio", "Name=\"a1\"", {1}) + Stream("audio", "Name=\"a2\"", {1}),
         "", "");
    EXPECT_EQ(PinNames(), (std::vector<std::string>{"v1", "a1", "~v2", "~a2"}));
    Load(Stream("video", "Name=\"v1\"", {1}) + Stream("video", "Name=\"v2\"", {1}), "", "");
    EXPECT_EQ(PinNames(), (std::vector<std::string>{"v1", "~v2"}));
}

} // namespace
