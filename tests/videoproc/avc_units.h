// H.264 clips for the processor tests: an Annex B file read into length-prefixed samples
// and the avcC record of its parameter sets, and the input type that carries the record
// as an avcC box.
#pragma once

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "framework/media_type.h"

namespace avc {

using Bytes = std::vector<uint8_t>;

inline void AppendBE(Bytes* out, uint32_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i)
        out->push_back(uint8_t(value >> (8 * i)));
}

inline Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// The NAL units of an Annex B byte stream, without their start codes.
inline std::vector<Bytes> SplitAnnexB(const Bytes& data) {
    std::vector<Bytes> units;
    size_t start = SIZE_MAX;
    for (size_t i = 0; i + 3 <= data.size();) {
        if (data[i] != 0 || data[i + 1] != 0 || data[i + 2] != 1) {
            ++i;
            continue;
        }
        if (start != SIZE_MAX) {
            size_t end = i;
            while (end > start && data[end - 1] == 0)
                --end;
            units.emplace_back(data.begin() + start, data.begin() + end);
        }
        start = i += 3;
    }
    if (start < data.size())
        units.emplace_back(data.begin() + start, data.end());
    return units;
}

// slice_type modulo 5 (0 P, 1 B, 2 I) of a slice NAL unit: its header's second ue(v).
inline uint32_t SliceType(const Bytes& unit) {
    size_t bit = 8;
    const auto next = [&] {
        const bool set = bit < unit.size() * 8 && (unit[bit / 8] >> (7 - bit % 8) & 1);
        ++bit;
        return set;
    };
    const auto ue = [&] {
        int zeros = 0;
        while (bit < unit.size() * 8 && !next())
            ++zeros;
        uint32_t value = 1;
        while (zeros-- > 0)
            value = value << 1 | uint32_t(next());
        return value - 1;
    };
    ue();
    return ue() % 5;
}

struct Clip {
    Bytes record;               // AVCDecoderConfigurationRecord, 4-byte lengths
    std::vector<Bytes> samples; // one slice each, in decode order, with its 4-byte length
    std::vector<bool> sync;     // IDR samples
    bool reordered = false;     // B slices: display order differs from decode order
};

// An Annex B file of one slice per picture, one SPS and one PPS (repeats are equal).
inline Clip ReadClip(const std::string& path) {
    Clip clip;
    Bytes sps, pps;
    for (const Bytes& unit : SplitAnnexB(ReadFile(path))) {
        const int kind = unit.empty() ? 0 : unit[0] & 0x1f;
        if (kind == 7 || kind == 8)
            (kind == 7 ? sps : pps) = unit;
        if (kind != 1 && kind != 5)
            continue;
        clip.samples.emplace_back();
        AppendBE(&clip.samples.back(), uint32_t(unit.size()), 4);
        clip.samples.back().insert(clip.samples.back().end(), unit.begin(), unit.end());
        clip.sync.push_back(kind == 5);
        clip.reordered |= SliceType(unit) == 1;
    }
    if (sps.size() < 4 || pps.empty())
        return clip;
    clip.record = {1, sps[1], sps[2], sps[3], 0xff, 0xe1};
    AppendBE(&clip.record, uint32_t(sps.size()), 2);
    clip.record.insert(clip.record.end(), sps.begin(), sps.end());
    clip.record.push_back(1);
    AppendBE(&clip.record, uint32_t(pps.size()), 2);
    clip.record.insert(clip.record.end(), pps.begin(), pps.end());
    return clip;
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
