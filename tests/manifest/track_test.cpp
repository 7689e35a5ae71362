// Sample sizes and buffer negotiation of quality levels; durations of streams.
#include <gtest/gtest.h>

#include "fragments/async_fragment.h"
#include "manifest/audio_stream.h"
#include "manifest/manifest.h"
#include "manifest/video_stream.h"
#include "tests/manifest/placed_fragments.h"

namespace {

// An allocator that grants what it is told to and records the request.
class GrantingAllocator : public IMemAllocator {
public:
    STDMETHODIMP QueryInterface(REFIID, void** object) override {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP SetProperties(ALLOCATOR_PROPERTIES* request,
                               ALLOCATOR_PROPERTIES* actual) override {
        Requested = *request;
        *actual = *request;
        actual->cbBuffer += GrantedDelta;
        return Result;
    }
    STDMETHODIMP GetProperties(ALLOCATOR_PROPERTIES*) override { return E_NOTIMPL; }
    STDMETHODIMP Commit() override { return E_NOTIMPL; }
    STDMETHODIMP Decommit() override { return E_NOTIMPL; }
    STDMETHODIMP GetBuffer(IMediaSample**, REFERENCE_TIME*, REFERENCE_TIME*, DWORD) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP ReleaseBuffer(IMediaSample*) override { return E_NOTIMPL; }

    ALLOCATOR_PROPERTIES Requested = {};
    LONG GrantedDelta = 0;
    HRESULT Result = S_OK;
};

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

    // A kind without a size of its own.
    struct PlainTrack : CSSFTrack {
        using CSSFTrack::CSSFTrack;
        HRESULT GetMediaType(int, CMediaType*) override { return E_NOTIMPL; }
    } plain(&m_video);
    EXPECT_EQ(plain.GetMaxSampleSize(), 10000000u);
}

TEST_F(TrackTest, DecideBufferSize_CountsClampedAndAllocatorChecked) {
    CSSFVideoTrack video(&m_video);
    video.MaxWidth = 1920;
    video.MaxHeight = 1080;
    ALLOCATOR_PROPERTIES properties = {};
    EXPECT_EQ(video.DecideBufferSize(nullptr, &properties), S_OK);
    EXPECT_EQ(properties.cbBuffer, 12441600);
    EXPECT_EQ(properties.cBuffers, 2);

    CSSFAudioTrack audio(&m_audio);
    audio.BitsPerSample = 16;
    audio.Channels = 2;
    audio.SamplingRate = 48000;
    EXPECT_EQ(audio.DecideBufferSize(nullptr, &properties), S_OK);
    EXPECT_EQ(properties.cbBuffer, 2880000);
    EXPECT_EQ(properties.cBuffers, 3);

    video.MaxWidth = 16;
    video.MaxHeight = 16;
    EXPECT_EQ(video.DecideBufferSize(nullptr, &properties), S_OK);
    EXPECT_EQ(properties.cBuffers, 32);

    GrantingAllocator allocator;
    EXPECT_EQ(audio.DecideBufferSize(&allocator, &properties), S_OK);
    EXPECT_EQ(allocator.Requested.cbBuffer, 2880000);
    allocator.GrantedDelta = -1;
    EXPECT_EQ(audio.DecideBufferSize(&allocator, &properties), E_FAIL);
    allocator.GrantedDelta = 0;
    allocator.Result = E_OUTOFMEMORY;
    EXPECT_EQ(audio.DecideBufferSize(&allocator, &properties), E_OUTOFMEMORY);

    video.MaxWidth = 0;
    EXPECT_EQ(video.DecideBufferSize(nullptr, &properties), E_FAIL);
    // The stream answers for its current track, or not at all.
    EXPECT_EQ(m_audio.DecideBufferSize(nullptr, &properties), E_UNEXPECTED);
    m_audio.CurrentTrack = &audio;
    EXPECT_EQ(m_audio.DecideBufferSize(nullptr, &properties), S_OK);
    EXPECT_EQ(properties.cbBuffer, 2880000);
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
