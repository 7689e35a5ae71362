// CSSFVideoStream: a StreamIndex of Type "video".
#pragma once

#include "manifest/stream.h"

class CSSFVideoStream : public CSSFStream {
public:
    using CSSFStream::CSSFStream;

    int GetStreamKind() override { return kVideo; }
    std::unique_ptr<CSSFTrack> CreateTrack() override;
    // The common parse, then the stream's sizes: absent sizes come from the largest
    // track sizes, absent display sizes from the maximum sizes; then FrameDuration from
    // the first fragment.
    HRESULT Parse(const CXmlElement& streamIndex) override;

    uint32_t MaxWidth = 0;      // pixels
    uint32_t MaxHeight = 0;     // pixels
    uint32_t DisplayWidth = 0;  // pixels
    uint32_t DisplayHeight = 0; // pixels
    // Average sample duration of the initial track's first fragment, stream ticks;
    // 0 when not measured.
    uint64_t FrameDuration = 0;

private:
    static constexpr DWORD kProbeTimeoutMs = 10000;

    void ProbeFrameDuration();
};
