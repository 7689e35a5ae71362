// The manifest reader, from documents in temporary files through the platform DOM.
#include <gtest/gtest.h>

#include <tuple>
#include <utility>
#include <vector>

#include "fragments/async_fragment.h"
#include "manifest/audio_stream.h"
#include "manifest/manifest.h"
#include "manifest/video_stream.h"
#include "tests/manifest/xml_file.h"

namespace {

const char kVideoLevel[] =
    "<QualityLevel Bitrate=\"300000\" FourCC=\"H264\" CodecPrivateData=\"0001\"/>";
const char kAudioLevel[] = "<QualityLevel Bitrate=\"64000\" SamplingRate=\"48000\" Channels=\"2\" "
                           "BitsPerSample=\"16\" PacketSize=\"4\" AudioTag=\"255\" "
                           "CodecPrivateData=\"1190\"/>";
const char kStreamAttributes[] = "QualityLevels=\"1\" Url=\"Q({bitrate})/F({start time})\"";

std::string StreamIndex(const std::string& attributes, const std::string& body) {
    return "<StreamIndex " + attributes + ">" + body + "</StreamIndex>\n";
}
std::string Video(const std::string& attributes, const std::string& body) {
    return StreamIndex("Type=\"video\" " + attributes, body);
}
std::string Audio(const std::string& attributes, const std::string& body) {
    return StreamIndex("Type=\"audio\" " + attributes, body);
}
// A video stream with one quality level and the given chunk elements.
std::string VideoWithChunks(const std::string& chunksAttribute, const std::string& chunks) {
    return Video(std::string(kStreamAttributes) + " " + chunksAttribute, kVideoLevel + chunks);
}

// "start+duration" of every chunk.
std::string Chunks(const CSSFStream& stream) {
    std::string text;
    for (const SSFChunk& chunk : stream.Chunks)
        text += (text.empty() ? "" : " ") + std::to_string(chunk.StartTime) + "+" +
                std::to_string(chunk.Duration);
    return text;
}

class ManifestParserTest : public testing::Test {
protected:
    HRESULT Load(const std::string& body, const std::string& rootAttributes = "Duration=\"0\"") {
        return LoadDocument(SmoothDocument(rootAttributes, body));
    }
    HRESULT LoadDocument(const std::string& text) {
        TempXmlFile file(text);
        m_manifest.Clear();
        return m_manifest.LoadFromFile(file.Path());
    }
    HRESULT Refresh(const std::string& body, const std::string& rootAttributes = "Duration=\"0\"") {
        TempXmlFile file(SmoothDocument(rootAttributes, body));
        return m_manifest.RefreshFromFile(file.Path());
    }
    // The chunk list of the only stream.
    std::string LoadChunks(const std::string& chunksAttribute, const std::string& chunks) {
        EXPECT_EQ(S_OK, Load(VideoWithChunks(chunksAttribute, chunks)));
        if (m_manifest.Streams.size() != 1) {
            ADD_FAILURE() << m_manifest.Streams.size() << " streams";
            return {};
        }
        return Chunks(*m_manifest.Streams[0]);
    }
    // Each stream's chunk index, then the presentation's start time.
    std::string Positions() {
        std::string text;
        for (const auto& stream : m_manifest.Streams)
            text += std::to_string(stream->GetPosition().ChunkIndex) + " ";
        return text + "from " + std::to_string(m_manifest.StartTime);
    }
    CSSFVideoStream& VideoAt(size_t i) {
        return dynamic_cast<CSSFVideoStream&>(*m_manifest.Streams.at(i));
    }
    CSSFAudioStream& AudioAt(size_t i) {
        return dynamic_cast<CSSFAudioStream&>(*m_manifest.Streams.at(i));
    }

    CSSFManifest m_manifest;
};

} // namespace

TEST_F(ManifestParserTest, ParseRoot_TimeScaleSpellingsAndWithoutDurationOrRoot) {
    ASSERT_EQ(S_OK, Load(VideoWithChunks("Chunks=\"0\"", "") +
                             VideoWithChunks("Chunks=\"0\" Timescale=\"90000\"", "") +
                             VideoWithChunks("Chunks=\"0\" TimeScale=\"0\"", ""),
                         "Duration=\"5\" Timescale=\"1000\""));
    ASSERT_EQ(3u, m_manifest.Streams.size());
    EXPECT_EQ(std::make_tuple(1000, 5, 1000, 90000, 0),
              std::make_tuple(m_manifest.TimeScale, m_manifest.Duration,
                              m_manifest.Streams[0]->TimeScale, m_manifest.Streams[1]->TimeScale,
                              m_manifest.Streams[2]->TimeScale));
    ASSERT_EQ(S_OK, Load(VideoWithChunks("Chunks=\"0\"", ""), "Duration=\"1\" timescale=\"1000\""));
    ASSERT_EQ(1u, m_manifest.Streams.size());
    EXPECT_EQ(10000000, m_manifest.TimeScale);
    EXPECT_EQ(10000000, m_manifest.Streams[0]->TimeScale);

    // Without "Duration" or the root nothing more is read.
    EXPECT_EQ(S_OK,
              Load(VideoWithChunks("Chunks=\"1\"", ""), "TimeScale=\"1000\" IsLive=\"true\""));
    EXPECT_TRUE(m_manifest.Streams.empty());
    EXPECT_EQ(1000, m_manifest.TimeScale);
    EXPECT_EQ(0, m_manifest.IsLive);

    EXPECT_EQ(S_OK, LoadDocument("<?xml version=\"1.0\"?><Other Duration=\"1\" TimeScale=\"5\"/>"));
    EXPECT_TRUE(m_manifest.Streams.empty());
    EXPECT_EQ(10000000, m_manifest.TimeScale);
    EXPECT_EQ(0, m_manifest.Duration);
}

TEST_F(ManifestParserTest, ParseStreams_TypesAndRequiredAttributes_OnlyCompleteOnesKept) {
    const std::string all = std::string(kStreamAttributes) + " Chunks=\"1\"";
    // Text streams and streams without "Url" or "QualityLevels": kvssf info's codings.
    ASSERT_EQ(S_OK,
              Load(StreamIndex("Type=\"data\" Name=\"other\" " + all, kVideoLevel) +
                   StreamIndex("Name=\"untyped\" " + all, kVideoLevel) +
                   Video("Name=\"no-chunks\" " + std::string(kStreamAttributes), kVideoLevel) +
                   StreamIndex("Type=\"VIDEO\" " + all, kVideoLevel) +
                   Audio("Name=\"sound\" " + all, kAudioLevel)));
    ASSERT_EQ(2u, m_manifest.Streams.size());
    // Without "Name" the stream is named by its "Type" as written.
    EXPECT_EQ("VIDEO", m_manifest.Streams[0]->Name);
    EXPECT_EQ("VIDEO", m_manifest.Streams[0]->PinName);
    EXPECT_EQ(SSFStreamKind::Video, m_manifest.Streams[0]->GetStreamKind());
    EXPECT_EQ("sound", m_manifest.Streams[1]->Name);
    EXPECT_EQ(SSFStreamKind::Audio, m_manifest.Streams[1]->GetStreamKind());
}

TEST_F(ManifestParserTest, ParseTracks_MissingRequiredValues_TracksAndEmptyStreamsDropped) {
    const std::string common = std::string(kStreamAttributes) + " Chunks=\"1\" Name=";
    // An audio level for each required attribute, without it.
    const char* required[] = {"SamplingRate", "Channels", "BitsPerSample",
                              "PacketSize",   "AudioTag", "CodecPrivateData"};
    std::string audioLevels;
    for (const char* missing : required) {
        audioLevels += "<QualityLevel Bitrate=\"1\"";
        for (const char* name : required)
            audioLevels += name == missing ? "" : std::string(" ") + name + "=\"11\"";
        audioLevels += "/>";
    }
    const char* const videoLevels = R"(
<QualityLevel Bitrate="1" FourCC="AVC" CodecPrivateData="00"/>
<QualityLevel Bitrate="2" FourCC="AVC1X" CodecPrivateData="00"/>
<QualityLevel Bitrate="3" FourCC="WVC1"/><QualityLevel FourCC="WVC1" CodecPrivateData="00"/>
<QualityLevel Bitrate="5" FourCC="WVC1" CodecPrivateData=""/>)";
    const char* const pcmLevel = R"(<QualityLevel Bitrate="7" SamplingRate="44100" Channels="1"
BitsPerSample="8" PacketSize="1" AudioTag="1" CodecPrivateData=""/>)";
    const char* const h26Level =
        R"(<QualityLevel Bitrate="1" FourCC="H26" CodecPrivateData="00"/>)";
    ASSERT_EQ(S_OK, Load(Video(common + "\"v\"", videoLevels) +
                         Audio(common + "\"a\"", audioLevels + pcmLevel) +
                         Video(common + "\"all-dropped\"", h26Level) +
                         Video(common + "\"no-levels\"", "")));
    ASSERT_EQ(2u, m_manifest.Streams.size());
    CSSFVideoStream& v = VideoAt(0);
    ASSERT_EQ(1u, v.Tracks.size());
    EXPECT_EQ(5u, v.Tracks[0]->Bitrate);
    EXPECT_EQ(v.Tracks[0].get(), v.CurrentTrack);
    CSSFAudioStream& a = AudioAt(1);
    ASSERT_EQ(1u, a.Tracks.size());
    const auto& track = dynamic_cast<const CSSFAudioTrack&>(*a.Tracks[0]);
    EXPECT_EQ(std::make_tuple(7u, 44100u, 1u, 8u, 1u, 1u, size_t(0)),
              std::make_tuple(track.Bitrate, track.SamplingRate, track.Channels,
                              track.BitsPerSample, track.PacketSize, track.AudioTag,
                              track.CodecPrivateData.size()));
}

TEST_F(ManifestParserTest, ParseTracks_VideoFields_ReadWithDefaults) {
    const char* const levels = R"(
<QualityLevel Index="7" Bitrate="0x10" FourCC="H264" MaxWidth="640" MaxHeight="360"
  CodecPrivateData="00000001674D40"/>
<QualityLevel Index="4294967295" Bitrate="2" FourCC="avc1" CodecPrivateData="ABC"/>
<QualityLevel Bitrate="3" FourCC="WVC1" CodecPrivateData=""/>)";
    ASSERT_EQ(S_OK, Load(Video(std::string(kStreamAttributes) +
                                   R"( Chunks="1" MaxWidth="1920" MaxHeight="1080")",
                               levels)));
    CSSFVideoStream& v = VideoAt(0);
    ASSERT_EQ(3u, v.Tracks.size());
    auto fields = [&](size_t i) {
        const auto& t = dynamic_cast<const CSSFVideoTrack&>(*v.Tracks[i]);
        return std::make_tuple(t.Index, t.Bitrate, t.FourCC, t.MaxWidth, t.MaxHeight,
                               t.CodecPrivateData);
    };
    using Bytes = std::vector<BYTE>;
    EXPECT_EQ(fields(0), std::make_tuple(7, 16u, 0x34363248u, 640u, 360u,
                                         Bytes{0, 0, 0, 1, 0x67, 0x4D, 0x40}));
    // A level without sizes takes the stream's as they stand while the levels are read:
    // the stream's own sizes are read after its levels.
    EXPECT_EQ(fields(1), std::make_tuple(-1, 2u, 0x31637661u, 0u, 0u, Bytes{0xAB, 0x0C}));
    EXPECT_EQ(fields(2), std::make_tuple(-1, 3u, 0x31435657u, 0u, 0u, Bytes{}));
    EXPECT_EQ(1920u, v.MaxWidth);
    EXPECT_EQ(1080u, v.MaxHeight);
}

TEST_F(ManifestParserTest, ParseVideoStream_MissingSizes_DerivedFromTracksAndMaximum) {
    const std::string levels = R"(
<QualityLevel Bitrate="1" FourCC="H264" MaxWidth="640" MaxHeight="480" CodecPrivateData="00"/>
<QualityLevel Bitrate="2" FourCC="H264" MaxWidth="1280" MaxHeight="360" CodecPrivateData="00"/>)";
    std::string body;
    for (const char* sizes :
         {"", R"(MaxWidth="100")", R"(MaxWidth="100" MaxHeight="50" DisplayWidth="16")",
          R"(MaxWidth="100" MaxHeight="50" DisplayWidth="0" DisplayHeight="9")",
          R"(MaxWidth="100" MaxHeight="50" DisplayWidth="16" DisplayHeight="9")"})
        body += Video(std::string(kStreamAttributes) + " Chunks=\"1\" " + sizes, levels);
    ASSERT_EQ(S_OK, Load(body));
    // Both from the largest track sizes when one is missing; a missing display size, or
    // one of 0, is the maximum size.
    std::vector<std::vector<uint32_t>> sizes;
    for (const auto& stream : m_manifest.Streams) {
        const auto& v = dynamic_cast<const CSSFVideoStream&>(*stream);
        sizes.push_back({v.MaxWidth, v.MaxHeight, v.DisplayWidth, v.DisplayHeight});
    }
    EXPECT_EQ(sizes, (std::vector<std::vector<uint32_t>>{{1280, 480, 1280, 480},
                                                         {1280, 480, 1280, 480},
                                                         {100, 50, 16, 50},
                                                         {100, 50, 100, 50},
                                                         {100, 50, 16, 9}}));
}

TEST_F(ManifestParserTest,
       ParseCustomAttributes_GroupsAndIncompleteAttribute_ReadInOrderUntilIncomplete) {
    const char* const levels = R"(
<QualityLevel Bitrate="1" FourCC="H264" CodecPrivateData="00">
  <CustomAttributes><Attribute Name="a" Value="1"/><Attribute Name="b" Value=""/></CustomAttributes>
  <CustomAttributes><Attribute Name="c" Value="3"/></CustomAttributes></QualityLevel>
<QualityLevel Bitrate="2" FourCC="H264" CodecPrivateData="00"><CustomAttributes>
  <Attribute Name="x" Value="1"/><Attribute Name="y"/><Attribute Name="z" Value="3"/>
  </CustomAttributes><CustomAttributes><Attribute Name="w" Value="4"/></CustomAttributes>
</QualityLevel>)";
    ASSERT_EQ(S_OK, Load(Video(std::string(kStreamAttributes) + " Chunks=\"1\"", levels)));
    CSSFVideoStream& v = VideoAt(0);
    ASSERT_EQ(2u, v.Tracks.size());
    auto pairs = [](const CSSFTrack& track) {
        std::vector<std::pair<std::string, std::string>> list;
        for (const auto& attribute : track.Attributes)
            list.emplace_back(attribute->Name, attribute->Value);
        return list;
    };
    using Pairs = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ((Pairs{{"a", "1"}, {"b", ""}, {"c", "3"}}), pairs(*v.Tracks[0]));
    // The Attribute without "Value" ends the reading; the level itself is kept.
    EXPECT_EQ((Pairs{{"x", "1"}}), pairs(*v.Tracks[1]));
}

// Every chunk coding: durations only, both, numbered with gaps, fewer elements than
// declared, repeats (starts only: kvssf info's codings).
TEST_F(ManifestParserTest, ParseChunks_Codings_StartsAndDurations) {
    const char* const cases[][3] = {
        {"0", R"(<c d="20"/><c d="20"/><c d="15"/>)", "0+20 20+20 40+15"},
        {"3", R"(<c n="0" d="20"/><c n="1" d="20"/><c n="2" d="15"/>)", "0+20 20+20 40+15"},
        // Given durations are replaced by the gap to the next start, except the last one's.
        {"3", R"(<c t="0" d="5"/><c t="10" d="7"/><c t="30" d="4"/>)", "0+10 10+20 30+4"},
        {"0", R"(<c t="36000000000" d="20"/><c t="36000000020" d="20"/>)",
         "36000000000+20 36000000020+20"},
        {"0", R"(<c t="0x10" d="4"/><c d="4"/>)", "16+4 20+4"},
        // Numbered with gaps: a gap repeats the last duration.
        {"8", R"(<c n="0" d="10"/><c n="1" d="10"/><c n="5" d="7"/>)",
         "0+10 10+10 20+10 30+10 40+10 50+7 57+7 64+7"},
        // A chunk number at or past the count ends the reading; the rest repeats.
        {"3", R"(<c n="0" d="5"/><c n="3" d="9"/><c n="1" d="1"/>)", "0+5 5+5 10+5"},
        // The declared count wins over fewer elements.
        {"4", R"(<c d="10"/><c d="10"/>)", "0+10 10+10 20+10 30+10"},
        {"3", "", "0+0 0+0 0+0"},
        {"0", "", ""},
        // "r", one element for several chunks; on demand the declared count equals them.
        {"4", R"(<c t="0" d="60" r="3"/><c d="42"/>)", "0+60 60+60 120+60 180+42"},
        // Live: nothing declared, the expansion gives the count.
        {"0", R"(<c t="1000" d="20" r="3"/>)", "1000+20 1020+20 1040+20"},
        // r counts the element itself; 0 and unreadable text count as 1.
        {"0", R"(<c d="5" r="1"/><c d="6" r="0"/><c d="7" r="x"/><c d="8" r="2"/>)",
         "0+5 5+6 11+7 18+8 26+8"},
        // Without "d" the repeated duration is the gap to the previous start.
        {"0", R"(<c t="0" d="10"/><c t="30" r="2"/><c d="1"/>)", "0+30 30+30 60+30 90+1"},
        // Numbered: n..n+r-1 are covered, a gap repeats the last duration.
        {"7", R"(<c n="0" d="10" r="2"/><c n="4" d="3" r="2"/>)",
         "0+10 10+10 20+10 30+10 40+3 43+3 46+3"},
        // A later start ends the repeats' last duration at it.
        {"0", R"(<c t="0" d="10" r="2"/><c t="25" d="5"/>)", "0+10 10+15 25+5"},
        // Fewer declared than described: the expansion wins; more: the rest repeats.
        {"1", R"(<c d="4" r="3"/>)", "0+4 4+4 8+4"},
        {"5", R"(<c d="4" r="2"/>)", "0+4 4+4 8+4 12+4 16+4"},
        // A repeat running past a numbered end stops the reading there.
        {"0", R"(<c n="2" d="4" r="2"/><c n="0" d="9"/>)", "0+0 0+0 0+4"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c[2], LoadChunks(std::string("Chunks=\"") + c[0] + "\"", c[1])) << c[1];
}

// A declared count or an expansion past 2^24 chunks fails before allocating; parsing
// fetches no fragment, not even the probe's.
TEST_F(ManifestParserTest, ParseChunks_CountLimitAndSlotsWithoutFetching) {
    const std::pair<const char*, const char*> cases[] = {
        {R"(Chunks="0")", R"(<c d="1" r="16777217"/>)"},
        {R"(Chunks="0")", R"(<c d="1" r="16777216"/><c d="1"/>)"},
        {R"(Chunks="0")", R"(<c d="1" r="-1"/>)"},
        {R"(Chunks="4294967295")", R"(<c d="1"/>)"}};
    for (const auto& [attribute, chunks] : cases)
        EXPECT_EQ(E_OUTOFMEMORY, Load(VideoWithChunks(attribute, chunks))) << attribute << chunks;
    ASSERT_EQ(S_OK, Load(VideoWithChunks("Chunks=\"4\"", "")));
    ASSERT_EQ(4u, VideoAt(0).GetFragmentSlotCount());
    for (uint32_t i = 0; i < 4; ++i)
        EXPECT_FALSE(VideoAt(0).GetCachedFragment(i));
}

TEST_F(ManifestParserTest, StartTime_OnDemand_EarliestFirstChunkAndSaturatedTimes) {
    ASSERT_EQ(S_OK,
              Load(VideoWithChunks("Chunks=\"0\"",
                                   "<c t=\"20000000\" d=\"20000000\"/><c d=\"20000000\"/>") +
                       Audio(std::string(kStreamAttributes) + " Chunks=\"0\" TimeScale=\"1000\"",
                             std::string(kAudioLevel) + "<c t=\"1000\" d=\"4500\"/>"),
                   "Duration=\"60000000\""));
    EXPECT_EQ("0 0 from 10000000", Positions());
    EXPECT_EQ(60000000 - 10000000, m_manifest.Streams[0]->GetDuration());
    EXPECT_EQ(55000000 - 10000000, m_manifest.Streams[1]->GetDuration());
    EXPECT_EQ(50000000, m_manifest.GetDuration());

    // Converted times past the signed 64-bit range saturate; no duration is negative.
    ASSERT_EQ(S_OK, Load(VideoWithChunks("Chunks=\"0\"", "<c t=\"20000000\" d=\"20000000\"/>") +
                         Audio(std::string(kStreamAttributes) + " Chunks=\"0\" TimeScale=\"1\"",
                               std::string(kAudioLevel) +
                                   "<c t=\"4611686018427387904\" d=\"9223372036854775807\"/>")));
    EXPECT_EQ(20000000, m_manifest.Streams[0]->GetDuration());
    EXPECT_EQ(INT64_MAX - 20000000, m_manifest.Streams[1]->GetDuration());
}

namespace {

// Six 2-second chunks from the given start (ticks of 10,000,000 per second).
std::string LiveChunks(int64_t start) {
    std::string chunks;
    for (int k = 0; k < 6; ++k)
        chunks += "<c t=\"" + std::to_string(start + k * 20000000) + "\" d=\"20000000\"/>";
    return chunks;
}

std::string LiveDocumentBody(const std::string& videoUrl, int64_t videoStart,
                             const std::string& audioUrl, int64_t audioStart) {
    return Video("QualityLevels=\"1\" Chunks=\"0\" Url=\"" + videoUrl + "\"",
                 kVideoLevel + LiveChunks(videoStart)) +
           Audio("QualityLevels=\"1\" Chunks=\"0\" Url=\"" + audioUrl + "\"",
                 kAudioLevel + LiveChunks(audioStart));
}

const char kLiveRoot[] = "Duration=\"0\" IsLive=\"true\"";

} // namespace

TEST_F(ManifestParserTest, LiveStartPosition_FiveSecondsBeforeEarliestEdgeNotBeforeFirstChunk) {
    ASSERT_EQ(S_OK,
              Load(LiveDocumentBody("v/{start time}", 36000000000, "a/{start time}", 35999786667),
                   kLiveRoot));
    ASSERT_EQ(2u, m_manifest.Streams.size());
    // Edges 36100000000 and 36099786667; the position 36049786667 falls in chunk 2 of both.
    EXPECT_EQ("2 2 from 36039786667", Positions());
    EXPECT_EQ(kUnboundedTime, m_manifest.Streams[0]->GetDuration());
    EXPECT_EQ(kUnboundedTime, m_manifest.Streams[1]->GetEndTime());
    EXPECT_EQ(kUnboundedTime, m_manifest.GetDuration());
}

TEST_F(ManifestParserTest, Refresh_MatchingStreams_ChunksReplacedAndRepositioned) {
    ASSERT_EQ(S_OK,
              Load(LiveDocumentBody("v/{start time}", 36000000000, "a/{start time}", 36000000000),
                   kLiveRoot));
    CSSFStream& video = *m_manifest.Streams[0];
    CSSFStream& audio = *m_manifest.Streams[1];
    const std::string audioBefore = Chunks(audio);

    // The video window slid by four chunks; the audio "Url" differs in letter case only;
    // a text stream with the video's "Url" matches nothing; root attributes are not read.
    ASSERT_EQ(
        S_OK,
        Refresh(LiveDocumentBody("v/{start time}", 36080000000, "A/{start time}", 36080000000) +
                    StreamIndex("Type=\"text\" Url=\"v/{start time}\" Chunks=\"1\"", ""),
                "Duration=\"99\" IsLive=\"false\" TimeScale=\"1000\""));
    EXPECT_EQ(1, m_manifest.IsLive);
    EXPECT_EQ(0, m_manifest.Duration);
    EXPECT_EQ(10000000, m_manifest.TimeScale);
    ASSERT_EQ(6u, video.Chunks.size());
    EXPECT_EQ(36080000000, video.Chunks.front().StartTime);
    EXPECT_EQ(6u, video.GetFragmentSlotCount());
    EXPECT_EQ(audioBefore, Chunks(audio));
    // Edges 36180000000 (video) and 36100000000 (audio): position 36050000000, clamped
    // to the video's first chunk.
    EXPECT_EQ("0 4 from 36080000000", Positions());
}

TEST_F(ManifestParserTest, Refresh_BadOrEmptyDocument_ModelUnchanged) {
    ASSERT_EQ(S_OK, Load(LiveDocumentBody("v", 36000000000, "a", 36000000000), kLiveRoot));
    const std::string before = Chunks(*m_manifest.Streams[0]) + Positions();

    TempXmlFile malformed("<SmoothStreamingMedia><StreamIndex Type=\"video\" Url=\"v\">");
    EXPECT_EQ(VFW_E_INVALID_FILE_FORMAT, m_manifest.RefreshFromFile(malformed.Path()));
    TempXmlFile noRoot("<Other/>");
    EXPECT_EQ(S_OK, m_manifest.RefreshFromFile(noRoot.Path()));

    EXPECT_EQ(before, Chunks(*m_manifest.Streams[0]) + Positions());
}
