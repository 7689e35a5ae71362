// H.264 for the processor tests: NAL units out of an Annex B byte stream, the avcC record
// of a parameter set pair, samples of length-prefixed units and the input type that
// carries the record as an avcC box.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "framework/media_type.h"

namespace avc {

using Bytes = std::vector<uint8_t>;

inline void AppendBE(Bytes* out, uint32_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i)
        out->push_back(uint8_t(value >> (8 * i)));
}

// The NAL units of an Annex B byte stream, without their start codes.
inline std::vector<Bytes> SplitAnnexB(const uint8_t* data, size_t size) {
    std::vector<Bytes> units;
    size_t start = SIZE_MAX;
    for (size_t i = 0; i + 3 <= size;) {
        if (data[i] != 0 || data[i + 1] != 0 || data[i + 2] != 1) {
            ++i;
            continue;
        }
        if (start != SIZE_MAX) {
            size_t end = i;
            while (end > start && data[end - 1] == 0)
                --end;
            units.emplace_back(data + start, data + end);
        }
        start = i += 3;
    }
    if (start != SIZE_MAX && start < size)
        units.emplace_back(data + start, data + size);
    return units;
}

// The AVCDecoderConfigurationRecord of one SPS and one PPS, 4-byte lengths.
inline Bytes Record(const Bytes& sps, const Bytes& pps) {
    Bytes record = {1, sps[1], sps[2], sps[3], 0xff, 0xe1};
    AppendBE(&record, uint32_t(sps.size()), 2);
    record.insert(record.end(), sps.begin(), sps.end());
    record.push_back(1);
    AppendBE(&record, uint32_t(pps.size()), 2);
    record.insert(record.end(), pps.begin(), pps.end());
    return record;
}

// Appends unit with its 4-byte length to sample.
inline void AppendUnit(Bytes* sample, const Bytes& unit) {
    AppendBE(sample, uint32_t(unit.size()), 4);
    sample->insert(sample->end(), unit.begin(), unit.end());
}

// MEDIATYPE_Video of subtype in a VIDEOINFOHEADER followed by record as an avcC box.
inline CMediaType InputType(const Bytes& record, const GUID& subtype, LONG width, LONG height,
                            REFERENCE_TIME frameTime) {
    Bytes box;
    AppendBE(&box, uint32_t(record.size() + 8), 4);
    box.insert(box.end(), {'a', 'v', 'c', 'C'});
    box.insert(box.end(), record.begin(), record.end());
    CMediaType type(&MEDIATYPE_Video);
    type.SetSubtype(&subtype);
    type.SetFormatType(&FORMAT_VideoInfo);
    type.SetVariableSize();
    type.SetTemporalCompression(TRUE);
    BYTE* block = type.AllocFormatBuffer(ULONG(sizeof(VIDEOINFOHEADER) + box.size()));
    std::memset(block, 0, sizeof(VIDEOINFOHEADER));
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(block);
    vih->AvgTimePerFrame = frameTime;
    vih->bmiHeader.biSize = DWORD(sizeof(BITMAPINFOHEADER) + box.size());
    vih->bmiHeader.biWidth = width;
    vih->bmiHeader.biHeight = height;
    vih->bmiHeader.biCompression = subtype.Data1;
    std::memcpy(block + sizeof(VIDEOINFOHEADER), box.data(), box.size());
    return type;
}

} // namespace avc
