// The play-time side of a stream: samples filled from fragments, seeking, live windows
// and level adaptation.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <tuple>

#include "fragments/async_fragment.h"
#include "framework/media_sample.h"
#include "framework/media_type.h"
#include "manifest/audio_stream.h"
#include "manifest/manifest.h"
#include "manifest/video_stream.h"
#include "tests/manifest/placed_fragments.h"
#include "tests/support/origin.h"
#include "tests/support/temp_directory.h"

namespace {

constexpr uint32_t kSync = 0x02000000;
constexpr uint32_t kOther = 0x01010000;

// The framework's sample over a buffer with guard bytes behind its capacity. Dirty sets
// every property a fill must clear, so that a fill leaving one alone shows.
class GuardedSample {
public:
    explicit GuardedSample(LONG capacity)
        : m_buffer(size_t(capacity) + 64, kGuardByte),
          m_sample(new CMediaSample(nullptr, m_buffer.data(), capacity)) {}

    IMediaSample* Get() const { return m_sample.Get(); }
    long Length() const { return m_sample->GetActualDataLength(); }
    std::pair<REFERENCE_TIME, REFERENCE_TIME> Time() const {
        REFERENCE_TIME start = -1, stop = -1;
        m_sample->GetTime(&start, &stop);
        return {start, stop};
    }
    std::string Times() const {
        return std::to_string(Time().first) + "-" + std::to_string(Time().second);
    }
    bool GuardIntact() const {
        return std::all_of(m_buffer.begin() + m_sample->GetSize(), m_buffer.end(),
                           [](BYTE b) { return b == kGuardByte; });
    }
    void Dirty() {
        LONGLONG time = 1;
        CMediaType type;
        m_sample->SetMediaTime(&time, &time);
        m_sample->SetMediaType(&type);
        m_sample->SetDiscontinuity(TRUE);
        m_sample->SetPreroll(TRUE);
    }
    bool Clean() const {
        AM_MEDIA_TYPE* type = nullptr;
        LONGLONG start = 0, stop = 0;
        return m_sample->GetMediaType(&type) == S_FALSE &&
               m_sample->GetMediaTime(&start, &stop) == VFW_E_MEDIA_TIME_NOT_SET &&
               m_sample->IsDiscontinuity() == S_FALSE && m_sample->IsPreroll() == S_FALSE;
    }

private:
    static constexpr BYTE kGuardByte = 0xEE;
    std::vector<BYTE> m_buffer;
    ComPtr<CMediaSample> m_sample;
};

// A downloaded fragment of track: samples of one duration with the given flags.
class ReadyFragment : public PlacedFragment {
public:
    ReadyFragment(CSSFTrack* track, uint32_t duration, std::initializer_list<uint32_t> flags)
        : PlacedFragment(S_OK), Track(track) {
        for (uint32_t f : flags)
            Samples.push_back(SSFSample{duration, 1, f, 0, uint64_t(duration) * Samples.size(), 0});
        SampleCount = uint32_t(Samples.size());
        TotalDuration = uint64_t(duration) * SampleCount;
    }

    CSSFTrack* const Track;
};

// As the pin loop does: after E_PENDING waits for progress, or briefly without one; gives
// up after 20 s.
HRESULT FillWhenReady(CSSFStream& stream, GuardedSample& sample) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        const HRESULT hr = stream.FillSample(sample.Get());
        if (hr != E_PENDING)
            return hr;
        if (!stream.WaitForProgress(100))
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return E_PENDING;
}

// Where a seek to time leaves the stream: "chunk.sample", after "failed at " when the
// time is in no chunk.
std::string SeekTo(CSSFStream& stream, REFERENCE_TIME time) {
    const bool found = stream.Seek(time);
    const auto position = stream.GetPosition();
    return (found ? "" : "failed at ") + std::to_string(position.ChunkIndex) + "." +
           std::to_string(position.SampleIndex);
}

// The chunk list's first and last starts, its size, the slot count and the position.
std::string Window(CSSFStream& stream) {
    return std::to_string(stream.Chunks.front().StartTime) + ".." +
           std::to_string(stream.Chunks.back().StartTime) + " in " +
           std::to_string(stream.Chunks.size()) + " chunks, " +
           std::to_string(stream.GetFragmentSlotCount()) + " slots, at " +
           std::to_string(stream.GetPosition().ChunkIndex);
}

// A live presentation grows from its fragments' announcements until they stop; the time
// line stays continuous through the window slides. The manifest, refreshed at the end,
// no longer grows either: each stream ends 10 s (more than three 2 s chunks) later.
TEST(StreamRuntime, Live_LookaheadGrowsTheListUntilTheOriginRunsOut) {
    ScopedTempDirectory temp;
    const std::string base = OriginUrl("nginx");
    ASSERT_FALSE(base.empty());
    CSSFManifest manifest;
    ASSERT_EQ(manifest.Load((base + "media/live/pres.ism/Manifest").c_str()), S_OK);
    ASSERT_TRUE(manifest.IsLive);
    for (const auto& stream : manifest.Streams) {
        const int64_t lastListed = stream->Chunks.back().StartTime;
        GuardedSample sample(LONG(stream->CurrentTrack->GetMaxSampleSize()));
        REFERENCE_TIME previousStop = -1;
        HRESULT hr = S_OK;
        auto lastSample = std::chrono::steady_clock::now();
        while ((hr = FillWhenReady(*stream, sample)) == S_OK) {
            lastSample = std::chrono::steady_clock::now();
            if (previousStop >= 0) {
                EXPECT_NEAR(double(sample.Time().first), double(previousStop), 1.0) << stream->Name;
            }
            previousStop = sample.Time().second;
            ASSERT_EQ(stream->GetFragmentSlotCount(), stream->Chunks.size());
        }
        // The encoder wrote two fragments beyond the captured list, announced by the
        // fragments before them; the last announces nothing.
        EXPECT_EQ(hr, S_FALSE) << stream->Name;
        const double waitedSeconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - lastSample).count();
        EXPECT_GE(waitedSeconds, 9.9) << stream->Name;
        EXPECT_LT(waitedSeconds, 12.0) << stream->Name;
        EXPECT_GT(stream->Chunks.back().StartTime, lastListed) << stream->Name;
    }
}

// Three chunks of 2 s at 10 MHz, fragments placed in the slots by the test.
class StreamPlacementTest : public testing::Test {
protected:
    void SetUp() override {
        for (CSSFStream* stream :
             {static_cast<CSSFStream*>(&m_video), static_cast<CSSFStream*>(&m_audio)}) {
            stream->TimeScale = 10000000;
            stream->Chunks = {{0, 20000000}, {20000000, 20000000}, {40000000, 20000000}};
            ASSERT_EQ(stream->SetFragmentSlotCount(3), S_OK);
        }
        m_video.CurrentTrack = &m_videoTrack;
        m_audio.CurrentTrack = &m_audioTrack;
    }
    template <typename Stream>
    void Place(PlacingStream<Stream>& stream, uint32_t chunk, ReadyFragment* fragment) {
        stream.Place(chunk, fragment->Track, fragment);
    }

    CSSFManifest m_manifest;
    PlacingStream<CSSFVideoStream> m_video{&m_manifest};
    PlacingStream<CSSFAudioStream> m_audio{&m_manifest};
    CSSFVideoTrack m_videoTrack{&m_video};
    CSSFAudioTrack m_audioTrack{&m_audio};
};

TEST_F(StreamPlacementTest, Seek_AudioFirstSampleAtOrAfterVideoLastSyncAtOrBefore) {
    // Samples at offsets 0, 2.5 M, 5 M, 7.5 M, 10 M of chunk 1.
    Place(m_audio, 1,
          new ReadyFragment(&m_audioTrack, 2500000, {kSync, kSync, kSync, kSync, kSync}));
    Place(m_video, 1,
          new ReadyFragment(&m_videoTrack, 2500000, {kSync, kSync, kOther, kSync, kOther}));
    EXPECT_EQ(SeekTo(m_audio, 25000000), "1.2");
    EXPECT_EQ(SeekTo(m_audio, 25000001), "1.3") << "rounded up into stream time, then the next";
    EXPECT_EQ(SeekTo(m_video, 25000000), "1.1");
    EXPECT_EQ(SeekTo(m_video, 39999999), "1.3");
    // A chunk's start is inside it; the audio past its last sample start goes on.
    EXPECT_EQ(SeekTo(m_audio, 20000000), "1.0");
    EXPECT_EQ(SeekTo(m_audio, 30000001), "2.0");
    // No sync sample up to the offset: the chunk's first sample.
    Place(m_video, 1, new ReadyFragment(&m_videoTrack, 2500000, {kOther, kOther, kSync}));
    EXPECT_EQ(SeekTo(m_video, 22000000), "1.0");
}

TEST_F(StreamPlacementTest, Seek_FailedFragmentGapsAndTheEnd) {
    // The slot holds a fragment that never downloaded: placed at the chunk's start.
    m_video.Place(1, &m_videoTrack, new PlacedFragment());
    m_video.SetPosition({0, 7});
    EXPECT_EQ(SeekTo(m_video, 30000000), "1.0");
    // Above the last chunk's start: at the end, even inside the last chunk.
    EXPECT_EQ(SeekTo(m_video, 40000001), "3.0");
    GuardedSample sample(16);
    EXPECT_EQ(m_video.FillSample(sample.Get()), S_FALSE);

    // A last chunk of duration 0: its start is in no chunk; so is a gap. A failed seek
    // leaves the position.
    m_video.Chunks = {{0, 20000000}, {30000000, 10000000}, {40000000, 0}};
    m_video.SetPosition({1, 0});
    EXPECT_EQ(SeekTo(m_video, 40000000), "failed at 1.0");
    EXPECT_EQ(SeekTo(m_video, 25000000), "failed at 1.0");
    EXPECT_EQ(SeekTo(m_video, 40000001), "3.0");
}

TEST_F(StreamPlacementTest, FillSample_TrackMismatchOverflowAndNothingWritten) {
    // Without a video processor a fragment of another level cannot be delivered.
    CSSFVideoTrack other(&m_video);
    Place(m_video, 0, new ReadyFragment(&other, 100, {kSync}));
    GuardedSample sample(16);
    EXPECT_EQ(m_video.FillSample(sample.Get()), E_FAIL);
    EXPECT_EQ(m_video.GetPosition().SampleIndex, 0u);

    // A sample larger than the buffer fails without a byte written past it.
    auto* big = new ReadyFragment(&m_videoTrack, 100, {kSync});
    big->Samples[0].Size = 17;
    Place(m_video, 0, big);
    EXPECT_EQ(m_video.FillSample(sample.Get()), VFW_E_BUFFER_OVERFLOW);
    EXPECT_TRUE(sample.GuardIntact());
    EXPECT_EQ(m_video.GetPosition().SampleIndex, 0u);
    EXPECT_EQ(m_video.GetPosition().ChunkIndex, 0u);
    // Kept for the host: the chunk and its fragment, without a download failure.
    SSFStreamFailure failure;
    ASSERT_TRUE(m_video.GetLastFailure(&failure));
    EXPECT_EQ(failure.Result, VFW_E_BUFFER_OVERFLOW);
    EXPECT_EQ(std::tie(failure.ChunkIndex, failure.Status, failure.Url),
              std::make_tuple(0u, DWORD(0), std::string("placed")));
}

TEST_F(StreamPlacementTest, ApplyLookahead_GrowsOnceAndSlidesTheWindow) {
    m_manifest.IsLive = TRUE;
    m_audio.Chunks.clear();
    for (int64_t i = 0; i < 8; ++i)
        m_audio.Chunks.push_back({i * 100, 100});
    ASSERT_EQ(m_audio.SetFragmentSlotCount(8), S_OK);
    auto* current = new ReadyFragment(&m_audioTrack, 100, {kSync});
    current->Lookahead = {{700, 100}, {800, 100}, {900, 100}}; // the first is known already
    current->LookaheadCount = 3;
    Place(m_audio, 5, current);
    Place(m_audio, 0, new ReadyFragment(&m_audioTrack, 100, {kSync}));
    m_audio.SetPosition({5, 0});

    ASSERT_EQ(m_audio.ApplyLookahead(current), S_OK);
    EXPECT_EQ(Window(m_audio), "200..900 in 8 chunks, 8 slots, at 3");
    EXPECT_EQ(m_audio.GetCachedFragment(3).Get(), current) << "slots move with their chunks";
    EXPECT_FALSE(m_audio.GetCachedFragment(0));
    // Applied again, the same entries add nothing.
    ASSERT_EQ(m_audio.ApplyLookahead(current), S_OK);
    EXPECT_EQ(Window(m_audio), "200..900 in 8 chunks, 8 slots, at 3");

    // Near the front the window grows instead of sliding; on demand nothing happens.
    current->Lookahead = {{1000, 100}, {1100, 100}, {1200, 100}, {1300, 100}};
    current->LookaheadCount = 4;
    m_audio.SetPosition({1, 0});
    ASSERT_EQ(m_audio.ApplyLookahead(current), S_OK);
    EXPECT_EQ(Window(m_audio), "300..1300 in 11 chunks, 11 slots, at 0");
    m_manifest.IsLive = FALSE;
    current->Lookahead = {{5000, 100}};
    current->LookaheadCount = 1;
    ASSERT_EQ(m_audio.ApplyLookahead(current), S_OK);
    EXPECT_EQ(Window(m_audio), "300..1300 in 11 chunks, 11 slots, at 0");
}

// A video stream whose quality adapts, as it does with a video processor.
class AdaptiveVideoStream : public CSSFVideoStream {
public:
    using CSSFVideoStream::CSSFVideoStream;
    void AddLevels(std::initializer_list<uint32_t> bitrates) {
        for (uint32_t bitrate : bitrates) {
            Tracks.push_back(CreateTrack());
            Tracks.back()->Bitrate = bitrate;
        }
        CurrentTrack = Tracks.front().get();
    }

protected:
    bool HasVideoProcessor() const override { return true; }
};

TEST(StreamAdaptation, LevelsPickedInListOrder) {
    CSSFManifest manifest;
    AdaptiveVideoStream down(&manifest), up(&manifest);
    down.AddLevels({3000000, 1500000, 800000});
    up.AddLevels({800000, 1500000, 3000000});
    // Listed falling: the first that fits, else the lowest. The largest target stands for
    // a download measured at 0 ms.
    const std::tuple<AdaptiveVideoStream*, uint64_t, uint32_t> cases[] = {
        {&down, 3500000, 3000000}, {&down, 2000000, 800000},     {&up, 2000000, 1500000},
        {&up, 500000, 800000},     {&up, ~uint64_t(0), 3000000},
    };
    for (const auto& [stream, target, bitrate] : cases) {
        stream->TargetBitrate = target;
        EXPECT_EQ(stream->GetCurrentTrack()->Bitrate, bitrate) << target;
    }

    // Without a processor the chosen level stays.
    CSSFVideoStream fixed(&manifest);
    fixed.Tracks.push_back(fixed.CreateTrack());
    fixed.CurrentTrack = fixed.Tracks[0].get();
    fixed.TargetBitrate = 0;
    EXPECT_EQ(fixed.GetCurrentTrack(), fixed.CurrentTrack);
    EXPECT_EQ(fixed.SwitchTrack(fixed.CurrentTrack), E_FAIL);
}

// Fragments the fault server holds until the gate opens; the presentation starts at 2 s,
// where the first chunk does.
TEST(StreamFill, PendingThenTimesFromTheChunkListAndPrefetch) {
    ScopedTempDirectory temp;
    CSSFManifest manifest;
    CSSFVideoStream stream(&manifest);
    CSSFVideoTrack track(&stream);
    manifest.BaseUrl = OriginUrl("faults");
    ASSERT_FALSE(manifest.BaseUrl.empty());
    manifest.StartTime = 20000000;
    stream.CurrentTrack = &track;
    stream.TimeScale = 10000000;
    stream.Chunks = {{20000000, 8000000}, {28000000, 8000000}, {36000000, 8000000}};
    ASSERT_EQ(stream.SetFragmentSlotCount(3), S_OK);
    const std::string gate = UniqueName("fill");
    stream.Url = "gate/" + gate + "?durations=400000,400000&sync=0&pad=300&t={start time}";

    GuardedSample sample(1000);
    EXPECT_EQ(stream.FillSample(sample.Get()), E_PENDING);
    EXPECT_EQ(stream.FillSample(sample.Get()), E_PENDING) << "the fill never waits";
    FetchText(manifest.BaseUrl + "open/" + gate);
    sample.Dirty();
    ASSERT_EQ(FillWhenReady(stream, sample), S_OK);
    EXPECT_TRUE(sample.Clean());
    EXPECT_EQ(sample.Times(), "0-400000");
    EXPECT_TRUE(stream.GetCachedFragment(1)) << "the next chunk is prefetched";
    EXPECT_FALSE(stream.GetCachedFragment(2)) << "and only the next";
    EXPECT_EQ(sample.Length(), 150);
    ASSERT_EQ(FillWhenReady(stream, sample), S_OK);
    EXPECT_EQ(sample.Times(), "400000-800000");
    ASSERT_EQ(FillWhenReady(stream, sample), S_OK);
    EXPECT_EQ(stream.GetPosition().ChunkIndex, 1u);
    EXPECT_EQ(sample.Times(), "8000000-8400000") << "chunk 1's start from the list";
    while (FillWhenReady(stream, sample) == S_OK) {
    }
    EXPECT_EQ(stream.GetPosition().ChunkIndex, 3u);
    EXPECT_EQ(stream.FillSample(sample.Get()), S_FALSE);
}

} // namespace
