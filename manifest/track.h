// The quality levels of a stream: CSSFTrack and its video and audio kinds, one per kept
// "QualityLevel" element, with their custom attributes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "framework/platform/platform.h"

class CMediaType;
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
    // The track's one media type at position 0: E_INVALIDARG below 0, E_POINTER without
    // a type, VFW_S_NO_MORE_ITEMS above 0 (and for H.264 data without a usable parameter
    // set), E_OUTOFMEMORY.
    virtual HRESULT GetMediaType(int position, CMediaType* type) = 0;
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
    // Generic FourCC video, or for "H264" the avc1 type with an "avcC" box and the frame
    // time of the sequence parameter set.
    HRESULT GetMediaType(int position, CMediaType* type) override;
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
    // WAVEFORMATEX with the codec data (synthesised for AAC without any).
    HRESULT GetMediaType(int position, CMediaType* type) override;
    uint32_t GetMaxSampleSize() override;

    uint32_t SamplingRate = 0; // samples per second
    uint32_t Channels = 0;
    uint32_t BitsPerSample = 0;
    uint32_t PacketSize = 0; // block alignment, bytes
    uint32_t AudioTag = 0;   // WAVEFORMATEX format tag
    std::vector<BYTE> CodecPrivateData;
};
