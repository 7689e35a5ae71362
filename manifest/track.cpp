#include "manifest/track.h"

namespace {

constexpr LONG kBufferBudget = 10000000; // bytes spread over the buffers
constexpr LONG kMinBuffers = 2;
constexpr LONG kMaxBuffers = 32;
constexpr uint32_t kDefaultMaxSampleSize = 10000000;

} // namespace

HRESULT CSSFTrack::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* properties) {
    if (properties == nullptr)
        return E_POINTER;
    const auto cbBuffer = static_cast<LONG>(GetMaxSampleSize());
    if (cbBuffer == 0)
        return E_FAIL;
    LONG cBuffers = kBufferBudget / cbBuffer;
    if (cBuffers > kMaxBuffers)
        cBuffers = kMaxBuffers;
    if (cBuffers < kMinBuffers)
        cBuffers = kMinBuffers;
    properties->cbBuffer = cbBuffer;
    properties->cBuffers = cBuffers;
    if (allocator == nullptr)
        return S_OK;
    ALLOCATOR_PROPERTIES actual = {};
    HRESULT hr = allocator->SetProperties(properties, &actual);
    if (FAILED(hr))
        return hr;
    return actual.cbBuffer < properties->cbBuffer ? E_FAIL : S_OK;
}

uint32_t CSSFTrack::GetMaxSampleSize() {
    return kDefaultMaxSampleSize;
}

uint32_t CSSFTrack::GetBitrate() {
    return Bitrate;
}

// Two frames of 24-bit pixels.
uint32_t CSSFVideoTrack::GetMaxSampleSize() {
    return MaxHeight * MaxWidth * 3u * 2u;
}

// 1.5 s of PCM at the track's format (halved before the last factors, so even), × 10.
uint32_t CSSFAudioTrack::GetMaxSampleSize() {
    return (((BitsPerSample >> 3) * Channels * SamplingRate * 3u) >> 1) * 5u * 2u;
}
