// Sample sizes and buffer negotiation of quality levels; durations of streams.
#include <gtest/gtest.h>

#include <string>

#include "fragments/async_fragment.h"
#include "framework/mem_allocator.h"
#include "manifest/audio_stream.h"
#include "manifest/manifest.h"
#include "manifest/video_stream.h"
#include "tests/manifest/placed_fragments.h"

namespace {

// The framework's allocator recording the request, granting less than the request by
// GrantedDelta bytes or answering Result when told to.
class GrantingAllocator : public CMemAllocator {
public:
    STDMETHODIMP SetProperties(ALLOCATOR_PROPERTIES* request,
                               ALLOCATOR_PROPERTIES* actual) override {
        Requested = *request;
        const HRESULT hr = CMemAllocator::SetProperties(request, actual);
        actual->cbBuffer += GrantedDelta;
        return FAILED(hr) ? hr : Result;
    }

    ALLOCATOR_PROPERTIES Requested = {};
    LONG GrantedDelta = 0;
    HRESULT Result = S_OK;
};

// A negotiation's outcome: "count x size", or the failure.
std::string Buffers(CSSFTrack& track, IMemAllocator* allocator = nullptr) {
    ALLOCATOR_PROPERTIES properties = {0, 0, 1, 0};
    const HRESULT hr = track.DecideBufferSize(allocator, &properties);
    if (FAILED(hr))
        return "failed " + std::to_string(uint32_t(hr));
    return std::to_string(properties.cBuffers) + " x " + std::to_string(properties.cbBuffer);
}

class TrackTest : public testing::Test {
protected:
    CSSFManifest m_manifest;
    CSSFVideoStream m_video{&m_manifest};
    CSSFAudioStream m_audio{&m_manifest};
};

TEST_F(TrackTest, MaxSampleSize_VideoFramesAudioPcmWrapping) {
    // The usual sizes are the buffer sizes below.
    CSSFVideoTrack video(&m_video);
    video.MaxWidth = video.MaxHeight = 65536; // 2^32 × 6 wraps to 0
    EXPECT_EQ(video.GetMaxSampleSize(), 0u);
    CSSFAudioTrack audio(&m_audio);
    audio.BitsPerSample = 8;
    audio.Channels = 1;
    audio.SamplingRate = 1; // 3 >> 1 = 1 before the last factors
    EXPECT_EQ(audio.GetMaxSampleSize(), 10u);
}

TEST_F(TrackTest, DecideBufferSize_CountsClampedAndAllocatorChecked) {
    const std::string failed = "failed " + std::to_string(uint32_t(E_FAIL));
    CSSFVideoTrack video(&m_video);
    video.MaxWidth = 1920;
    video.MaxHeight = 1080;
    EXPECT_EQ(Buffers(video), "2 x 12441600");
    video.MaxWidth = video.MaxHeight = 16;
    EXPECT_EQ(Buffers(video), "32 x 1536");
    video.MaxWidth = 0;
    EXPECT_EQ(Buffers(video), failed);

    CSSFAudioTrack audio(&m_audio);
    audio.BitsPerSample = 16;
    audio.Channels = 2;
    audio.SamplingRate = 48000;
    EXPECT_EQ(Buffers(audio), "3 x 2880000");
    ComPtr<GrantingAllocator> allocator(new GrantingAllocator);
    EXPECT_EQ(Buffers(audio, allocator.Get()), "3 x 2880000");
    EXPECT_EQ(allocator->Requested.cbBuffer, 2880000);
    allocator->GrantedDelta = -1;
    EXPECT_EQ(Buffers(audio, allocator.Get()), failed);
    allocator->GrantedDelta = 0;
    allocator->Result = E_OUTOFMEMORY;
    EXPECT_EQ(Buffers(audio, allocator.Get()), "failed " + std::to_string(uint32_t(E_OUTOFMEMORY)));

    // Without a current track the stream has no buffers (kvssf info shows them with one).
    ALLOCATOR_PROPERTIES properties = {};
    EXPECT_EQ(m_audio.DecideBufferSize(nullptr, &properties), E_UNEXPECTED);
}

class CountedFragment : public PlacedFragment {
public:
    explicit CountedFragment(int* alive) : m_alive(alive) { ++*m_alive; }
    ~CountedFragment() override { --*m_alive; }

private:
    int* m_alive;
};

TEST_F(TrackTest, FragmentSlots_ShrinkingReleasesOneReferenceEach) {
    int alive = 0;
    PlacingStream<CSSFVideoStream> video(&m_manifest);
    CSSFVideoTrack track(&video);
    ASSERT_EQ(video.SetFragmentSlotCount(3), S_OK);
    video.Place(1, &track, new CountedFragment(&alive));
    video.Place(2, &track, new CountedFragment(&alive));
    ASSERT_EQ(alive, 2);
    ComPtr<CSSFAsyncFragment> held = video.GetCachedFragment(2); // a waiter still holds this one
    ASSERT_EQ(video.SetFragmentSlotCount(1), S_OK);
    EXPECT_EQ(video.GetFragmentSlotCount(), 1u);
    EXPECT_EQ(alive, 1);
    held.Reset();
    EXPECT_EQ(alive, 0);
    ASSERT_EQ(video.SetFragmentSlotCount(4), S_OK);
    for (uint32_t i = 0; i < 4; ++i)
        EXPECT_FALSE(video.GetCachedFragment(i));
    EXPECT_EQ(video.SetFragmentSlotCount(size_t(1) << 62), E_OUTOFMEMORY);
    EXPECT_EQ(video.GetFragmentSlotCount(), 4u);
}

} // namespace
