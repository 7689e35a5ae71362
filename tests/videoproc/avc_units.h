// H.264 clips for the processor tests: an Annex B file read into length-prefixed samples and
// the avcC record of its parameter sets, and the input types that carry the record.
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
#include "framework/subtypes.h"

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

struct Clip {
    Bytes record;               // AVCDecoderConfigurationRecord, 4-byte lengths
    std::vector<Bytes> samples; // one slice each, in decode order, with its 4-byte length
    std::vector<bool> sync;     // IDR samples
};

// An Annex B file of one slice per picture, one SPS and one PPS (repeats are equal).
inline Clip ReadClip(const std::string& path) {
    static const uint8_t code[] = {0, 0, 1};
    const Bytes data = ReadFile(path);
    const auto append = [](Bytes* out, const Bytes& unit, int lengthBytes) {
        AppendBE(out, uint32_t(unit.size()), lengthBytes);
        out->insert(out->end(), unit.begin(), unit.end());
    };
    Clip clip;
    Bytes sps, pps;
    for (auto at = std::search(data.begin(), data.end(), code, code + 3); at != data.end();) {
        const auto start = at + 3;
        at = std::search(start, data.end(), code, code + 3);
        auto end = at;
        while (end != start && end[-1] == 0) // a 4-byte start code's leading zero
            --end;
        const Bytes unit(start, end);
        const int kind = unit.empty() ? 0 : unit[0] & 0x1f;
        if (kind == 7 || kind == 8)
            (kind == 7 ? sps : pps) = unit;
        if (kind == 1 || kind == 5) {
            append(&clip.samples.emplace_back(), unit, 4);
            clip.sync.push_back(kind == 5);
        }
    }
    if (sps.size() < 4 || pps.empty())
        return clip;
    clip.record = {1, sps[1], sps[2], sps[3], 0xff, 0xe1};
    append(&clip.record, sps, 2);
    clip.record.push_back(1);
    append(&clip.record, pps, 2);
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
