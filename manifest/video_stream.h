// CSSFVideoStream: a StreamIndex of Type "video".
#pragma once

#include <atomic>
#include <deque>
#include <memory>

#include "manifest/stream.h"
#include "videoproc/video_processor.h"

class CSSFVideoStream : public CSSFStream {
public:
    using CSSFStream::CSSFStream;
    // The processor (with its private graph) goes before the fragments and tracks.
    ~CSSFVideoStream() override;

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
    // Decodes and scales every level to one output type; only with "auto" quality.
    std::unique_ptr<CVideoProcessor> VideoProcessor;

    // Gives the processor the current track's type and buffer needs and the processed
    // type; S_OK without a processor.
    HRESULT ConfigureVideoProcessor();
    // With a processor the next decoded frame (FillProcessedSample), else the next
    // compressed sample (FillPlainSample).
    HRESULT FillSample(IMediaSample* sample) override;
    HRESULT FillPlainSample(IMediaSample* sample) { return CSSFStream::FillSample(sample); }
    // Copies out the next frame, feeding the processor compressed samples until one is
    // ready: S_OK, S_FALSE at the end, E_PENDING while input downloads, the graph drains
    // or decodes, else the failure of the processor or of the fill.
    HRESULT FillProcessedSample(IMediaSample* sample);
    // With a processor: the track becomes current and the processor's next input type
    // (E_PENDING once accepted); else E_FAIL.
    HRESULT SwitchTrack(CSSFTrack* track) override;
    HRESULT SwitchTrackProcessed(CSSFTrack* track);
    // Start, Stop, Flush and SetSegment of the processor when there is one.
    HRESULT OnActive() override;
    HRESULT OnInactive() override;
    HRESULT OnFlush() override;
    HRESULT OnNewSegment(REFERENCE_TIME rtStart, REFERENCE_TIME rtStop, double dRate) override;
    // After E_PENDING from the processor, waits for its progress; else for the fragment.
    bool WaitForProgress(DWORD timeoutMs) override;
    // The bit rate of the level whose samples were fed from presentation time time on
    // (the last fed before it); 0 before any was fed. Takes the lock.
    uint32_t LevelAt(REFERENCE_TIME time);

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
    virtual bool HasVideoProcessor() const { return VideoProcessor != nullptr; }

private:
    struct LevelStart {
        REFERENCE_TIME Start;
        uint32_t Bitrate;
    };
    static constexpr DWORD kProbeTimeoutMs = 10000;
    static constexpr size_t kLevelHistory = 64;

    // Remembers that a sample of the current track starting at start was fed.
    void RecordLevel(REFERENCE_TIME start);

    std::atomic<bool> m_bWaitOnProcessor{false}; // the pin's thread
    std::deque<LevelStart> m_levels;             // rising starts; m_lock
};
