// Reads the first sequence parameter set of H.264 codec private data (Annex B byte
// stream: NAL units each preceded by a start code) into the facts a media type needs.
#pragma once

#include <cstddef>
#include <cstdint>

#include "framework/platform/platform.h"

struct SpsInfo {
    uint32_t Width;   // luma pixels after cropping
    uint32_t Height;  // luma pixels after cropping
    double FrameRate; // frames per second; 30.0 unless the VUI timing gives 0.1 to 100.0
    BOOL HasAspectRatio;
    uint32_t SarWidth;
    uint32_t SarHeight;
    BOOL Valid; // 1 whenever the record is filled
    uint32_t ProfileIdc;
    uint32_t LevelIdc;
};

// Positive results of ReadSequenceParameterSet: no usable SPS, record unchanged.
// No SPS NAL unit, an unsupported profile_idc, or an SPS that could not be interpreted.
constexpr HRESULT SPS_S_NOT_READ = 2;
// An SPS NAL unit with no start code after it.
constexpr HRESULT SPS_S_UNTERMINATED = 7;

// Finds the first NAL unit of type 7 in bytes[0, length) and fills *record from it.
// S_OK: *record filled (cleared first). SPS_S_NOT_READ, SPS_S_UNTERMINATED: *record
// unchanged. E_OUTOFMEMORY: the NAL unit or the decoder context could not be allocated.
// Accepted profile_idc values: 66, 77, 88, 100, 110, 122, 144.
HRESULT ReadSequenceParameterSet(SpsInfo* record, const BYTE* bytes, size_t length);
