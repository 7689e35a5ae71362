// H.264 clips for the processor tests: an Annex B file read into length-prefixed samples
// and the avcC record of its parameter sets, and the input type that carries the record
// as an avcC box.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "framework/media_type.h"

namespace avc {

using Bytes = std::vector<uint8_t>;

// "avc1ISOMEDIATYPE" as the 16 bytes of a GUID.
constexpr GUID kAvc1Iso = {
    0x31637661, 0x5349, 0x4D4F, {0x45, 0x44, 0x49, 0x41, 0x54, 0x59, 0x50, 0x45}};

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
    static const uint8_t code[] = {0, 0, 1};
    std::vector<Bytes> units;
    for (auto at = std::search(data.begin(), data.end(), code, code + 3); at != data.end();) {
        const auto start = at + 3;
        at = std::search(start, data.end(), code, code + 3);
        auto end = at;
        while (end != start && end[-1] == 0) // a 4-byte start code's leading zero
            --end;
        units.emplace_back(start, end);
    }
    return units;
}

// Whether a slice NAL unit whose first_mb_in_slice is 0 codes a B slice: slice_type, the
// ue(v) after that 1 bit, is 1 or 6.
inline bool IsBSlice(const Bytes& unit) {
    if (unit.size() < 5)
        return false;
    const uint32_t bits = (uint32_t(unit[1]) << 24 | unit[2] << 16 | unit[3] << 8 | unit[4]) << 1;
    const int zeros = __builtin_clz(bits | 1);
    return zeros < 16 && ((bits >> (31 - 2 * zeros)) - 1) % 5 == 1;
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
        clip.reordered |= IsBSlice(unit);
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

// MEDIATYPE_Video of subtype carrying record: after a VIDEOINFOHEADER as an avcC box,
// after a VIDEOINFOHEADER2 as it is, or as an MPEG2VIDEOINFO's sequence header.
inline CMediaType InputType(const Bytes& record, const GUID& subtype, LONG width, LONG height,
                            REFERENCE_TIME frameTime, const GUID& format = FORMAT_VideoInfo) {
    const bool vih = format == FORMAT_VideoInfo, mpeg2 = format == FORMAT_MPEG2Video;
    Bytes data;
    if (vih) {
        AppendBE(&data, uint32_t(record.size() + 8), 4);
        data.insert(data.end(), {'a', 'v', 'c', 'C'});
    }
    data.insert(data.end(), record.begin(), record.end());
    const size_t header = vih     ? sizeof(VIDEOINFOHEADER)
                          : mpeg2 ? offsetof(MPEG2VIDEOINFO, dwSequenceHeader)
                                  : sizeof(VIDEOINFOHEADER2);
    CMediaType type(&MEDIATYPE_Video);
    type.SetSubtype(&subtype);
    type.SetFormatType(&format);
    type.SetVariableSize();
    type.SetTemporalCompression(TRUE);
    BYTE* block = type.AllocFormatBuffer(ULONG(header + data.size()));
    std::memset(block, 0, header);
    std::memcpy(block + header, data.data(), data.size());
    auto* vih1 = reinterpret_cast<VIDEOINFOHEADER*>(block);
    auto* vih2 = reinterpret_cast<VIDEOINFOHEADER2*>(block);
    BITMAPINFOHEADER& bitmap = vih ? vih1->bmiHeader : vih2->bmiHeader;
    (vih ? vih1->AvgTimePerFrame : vih2->AvgTimePerFrame) = frameTime;
    bitmap.biSize = DWORD(sizeof(BITMAPINFOHEADER) + (mpeg2 ? 0 : data.size()));
    bitmap.biWidth = width;
    bitmap.biHeight = height;
    bitmap.biCompression = subtype.Data1;
    if (mpeg2)
        reinterpret_cast<MPEG2VIDEOINFO*>(block)->cbSequenceHeader = DWORD(data.size());
    return type;
}

} // namespace avc
