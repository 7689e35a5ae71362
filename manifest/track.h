// The quality levels of a stream: CSSFTrack and its video and audio kinds, one per kept
// "QualityLevel" element, with their custom attributes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "framework/platform/platform.h"

class CSSFStream;
class CXmlElement;

// One "Attribute" of a QualityLevel's "CustomAttributes"; fragment URLs carry them.
class CSSFAttribute {
public:
    virtual ~CSSFAttribute() = default;

    std::string Name;
    std::string Value;
};

class CSSFTrack {
public:
    explicit CSSFTrack(CSSFStream* stream) : Stream(stream) {}
    virtual ~CSSFTrack() = default;

    // Reads a QualityLevel element. S_OK: keep the track; S_FALSE: a required attribute
    // is missing and the track is dropped; negative: the load fails.
    virtual HRESULT Parse(const CXmlElement& qualityLevel);
    // Fills properties->cbBuffer and cBuffers from GetMaxSampleSize (the count 10,000,000
    // bytes / size, kept within 2..32); with an allocator, also sets them on it and fails
    // with E_FAIL when it grants smaller buffers. E_FAIL when the size is 0.
    virtual HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* properties);
    // Bytes; unsigned 32-bit arithmetic that wraps.
    virtual uint32_t GetMaxSampleSize();
    virtual uint32_t GetBitrate();

    CSSFStream* Stream;   // owner, not owned
    uint32_t Bitrate = 0; // bits per second
    int32_t Index = -1;   // -1 when the element has no "Index"
    std::vector<std::unique_ptr<CSSFAttribute>> Attributes;

protected:
    HRESULT ParseCustomAttributes(const CXmlElement& qualityLevel);

private:
    CSSFTrack(const CSSFTrack&) = delete;
    CSSFTrack& operator=(const CSSFTrack&) = delete;
};

class CSSFVideoTrack : public CSSFTrack {
public:
    using CSSFTrack::CSSFTrack;

    HRESULT Parse(const CXmlElement& qualityLevel) override;
    uint32_t GetMaxSampleSize() override;

    uint32_t FourCC = 0;    // first character in the lowest byte
    uint32_t MaxWidth = 0;  // pixels
    uint32_t MaxHeight = 0; // pixels
    std::vector<BYTE> CodecPrivateData;
};

class CSSFAudioTrack : public CSSFTrack {
public:
    using CSSFTrack::CSSFTrack;

    HRESULT Parse(const CXmlElement& qualityLevel) override;
    uint32_t GetMaxSampleSize() override;

    uint32_t SamplingRate = 0; // samples per second
    uint32_t Channels = 0;
    uint32_t BitsPerSample = 0;
    uint32_t PacketSize = 0; // block alignment, bytes
    uint32_t AudioTag = 0;   // WAVEFORMATEX format tag
    std::vector<BYTE> CodecPrivateData;
};
