// libFuzzer entry: one input is one codec private data byte string.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "manifest/h264/sps_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    SpsInfo info;
    std::memset(&info, 0xA5, sizeof info);
    SpsInfo untouched = info;
    const HRESULT hr = ReadSequenceParameterSet(&info, data, size);
    if (hr == S_OK) {
        // What the media type relies on: a filled record with a usable frame rate.
        if (info.Valid != TRUE || (info.HasAspectRatio != TRUE && info.HasAspectRatio != FALSE))
            __builtin_trap();
        if (!(info.FrameRate >= 0.1 && info.FrameRate <= 100.0))
            __builtin_trap();
        switch (info.ProfileIdc) {
        case 66:
        case 77:
        case 88:
        case 100:
        case 110:
        case 122:
        case 144:
            break;
        default:
            __builtin_trap();
        }
    } else if (hr == SPS_S_NOT_READ || hr == SPS_S_UNTERMINATED) {
        if (std::memcmp(&info, &untouched, sizeof info) != 0)
            __builtin_trap();
    } else {
        __builtin_trap(); // E_OUTOFMEMORY is not expected here
    }
    return 0;
}
