// CSSFVideoStream: a StreamIndex of Type "video".
#pragma once

#include "manifest/stream.h"

class CSSFVideoStream : public CSSFStream {
public:
    using CSSFStream::CSSFStream;

    SSFStreamKind GetStreamKind() const override { return SSFStreamKind::Video; }
    std::unique_ptr<CSSFTrack> CreateTrack() override;
    // The common parse, then the stream's sizes: absent sizes come from the largest
    // track sizes, absent display sizes from the maximum sizes.
    HRESULT Parse(const CXmlElement& streamIndex) override;
    // FrameDuration: the mean sample duration of the current track's first fragment,
    // which starts downloading into its slot (up to 10 s); a fetch that fails or is still
    // running leaves it unchanged.
    void ProbeFrameDuration();

    uint32_t MaxWidth = 0;      // pixels
    uint32_t MaxHeight = 0;     // pixels
    uint32_t DisplayWidth = 0;  // pixels
    uint32_t DisplayHeight = 0; // pixels
    // Average sample duration of the initial track's first fragment, stream ticks;
    // 0 when not measured.
    uint64_t FrameDuration = 0;

    // With a video processor the processed type and its buffers, else the current
    // track's.
    HRESULT GetMediaType(int position, CMediaType* type) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* properties) override;
    // YUY2 at the display size, with the current track's frame time; E_UNEXPECTED
    // without a current track, else the results of the track's GetMediaType.
    HRESULT GetProcessedMediaType(int position, CMediaType* type);
    // Two buffers of the processed image size, set on allocator when given.
    HRESULT DecideProcessedBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* properties);

    // With a video processor, the level adaptation picks; else CurrentTrack.
    CSSFTrack* GetCurrentTrack() override;
    // The level for TargetBitrate: the first track if it fits, then each later one that
    // fits and beats the best so far; the lowest when the first does not fit.
    CSSFTrack* ChooseAdaptiveTrack();

protected:
    // Quality adapts, and levels switch at play time, only through a video processor.
    virtual bool HasVideoProcessor() const { return false; }

private:
    static constexpr DWORD kProbeTimeoutMs = 10000;
};
