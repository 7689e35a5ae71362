// The boxes of a fragment body: moof (mfhd, traf: tfhd, trun, sdtp, tfrf) up to the
// first mdat. Every other box is skipped by seeking over it.
#include <cstring>
#include <new>
#include <stdexcept>

#include "fragments/fragment.h"

namespace {

// The extended type of the fragment reference box that announces later chunks.
const BYTE kTfrfType[16] = {0xd4, 0x80, 0x7e, 0xf2, 0xca, 0x39, 0x46, 0x95,
                            0x8e, 0x54, 0x26, 0xcb, 0x9e, 0x46, 0xa7, 0x9f};

// A sample table without per-sample fields costs no payload, so its count is bounded
// here instead of by the box.
constexpr uint32_t kMaxFieldlessSamples = 1u << 20;

uint32_t BigEndian32(const BYTE* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

uint64_t BigEndian64(const BYTE* p) {
    return uint64_t(BigEndian32(p)) << 32 | BigEndian32(p + 4);
}

// Resizes a table, E_OUTOFMEMORY when it cannot be had.
template <class T> HRESULT Allocate(std::vector<T>* table, size_t count) {
    try {
        table->assign(count, T{});
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (const std::length_error&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

} // namespace

bool SSFBoxHeader::Is(const char* type) const {
    return std::memcmp(Type, type, 4) == 0;
}

HRESULT CSSFFragment::ReadBytes(SSFBoxHeader* box, void* buffer, size_t size) {
    if (box->Remaining < size)
        return E_FAIL;
    size_t count = 0;
    HRESULT hr = HttpFile.Read(buffer, size, &count);
    if (FAILED(hr))
        return hr;
    if (count != size)
        return E_FAIL;
    box->Remaining -= size;
    return S_OK;
}

HRESULT CSSFFragment::Read8(SSFBoxHeader* box, BYTE* value) {
    return ReadBytes(box, value, 1);
}

HRESULT CSSFFragment::Read32(SSFBoxHeader* box, uint32_t* value) {
    BYTE bytes[4];
    HRESULT hr = ReadBytes(box, bytes, 4);
    if (SUCCEEDED(hr))
        *value = BigEndian32(bytes);
    return hr;
}

HRESULT CSSFFragment::Read64(SSFBoxHeader* box, uint64_t* value) {
    BYTE bytes[8];
    HRESULT hr = ReadBytes(box, bytes, 8);
    if (SUCCEEDED(hr))
        *value = BigEndian64(bytes);
    return hr;
}

HRESULT CSSFFragment::ReadFullBoxPrefix(SSFBoxHeader* box, BYTE* version, uint32_t* flags) {
    uint32_t word = 0;
    HRESULT hr = Read32(box, &word);
    if (SUCCEEDED(hr)) {
        *version = BYTE(word >> 24);
        *flags = word & 0xFFFFFF;
    }
    return hr;
}

HRESULT CSSFFragment::Skip(SSFBoxHeader* box) {
    if (box->Remaining == 0)
        return S_OK;
    if (box->Remaining > uint64_t(INT64_MAX))
        return E_FAIL;
    HRESULT hr = HttpFile.Seek(int64_t(box->Remaining), SEEK_CUR);
    box->Remaining = 0;
    return hr;
}

HRESULT CSSFFragment::ReadBoxHeader(SSFBoxHeader* header, uint64_t limit) {
    *header = SSFBoxHeader();
    BYTE bytes[16];
    size_t count = 0;
    HRESULT hr = HttpFile.Read(bytes, 8, &count);
    if (FAILED(hr))
        return hr;
    if (count != 8)
        return E_FAIL;
    header->Size = BigEndian32(bytes);
    std::memcpy(header->Type, bytes + 4, 4);
    header->HeaderLength = 8;
    if (header->Size == 1) {
        hr = HttpFile.Read(bytes + 8, 8, &count);
        if (FAILED(hr))
            return hr;
        if (count != 8)
            return E_FAIL;
        header->Size = BigEndian64(bytes + 8);
        header->HeaderLength = 16;
    } else if (header->Size == 0) {
        header->Size = limit;
    }
    // Sizes compare as signed 64-bit values, so a size from 2^63 up, negative as such,
    // is an overrun too; a box smaller than its own header is rejected rather than read
    // with a wrapped payload.
    if (int64_t(header->Size) < 0 || int64_t(limit) < int64_t(header->Size) ||
        header->Size < header->HeaderLength)
        return E_FAIL;
    header->Remaining = header->Size - header->HeaderLength;
    if (header->Is("uuid")) {
        if (header->Remaining < 16)
            return E_FAIL;
        hr = HttpFile.Read(header->ExtendedType, 16, &count);
        if (FAILED(hr))
            return hr;
        if (count != 16)
            return E_FAIL;
        header->Remaining -= 16;
        header->HeaderLength += 16;
    }
    return S_OK;
}

HRESULT CSSFFragment::ParseFragment() {
    int64_t length = 0;
    HRESULT hr = HttpFile.GetLength(&length);
    if (FAILED(hr))
        return hr;
    uint64_t limit = uint64_t(length);
    for (;;) {
        SSFBoxHeader box;
        hr = ReadBoxHeader(&box, limit);
        if (FAILED(hr))
            return hr;
        if (box.Is("mdat"))
            return ApplyMdat();
        hr = box.Is("moof") ? ParseMoof(&box) : Skip(&box);
        if (FAILED(hr))
            return hr;
        limit -= box.Size;
    }
}

HRESULT CSSFFragment::ParseMoof(SSFBoxHeader* moof) {
    int64_t position = 0;
    HttpFile.Tell(&position);
    MoofOffset = uint64_t(position) - moof->HeaderLength;
    while (moof->Remaining != 0) {
        SSFBoxHeader child;
        HRESULT hr = ReadBoxHeader(&child, moof->Remaining);
        if (FAILED(hr))
            return hr;
        if (child.Is("mfhd")) {
            hr = ReadFullBoxPrefix(&child, &MfhdVersion, &MfhdFlags);
            if (SUCCEEDED(hr))
                hr = Read32(&child, &SequenceNumber);
        } else if (child.Is("traf")) {
            hr = ParseTraf(&child);
        }
        // Bytes a box holds beyond its fields are passed over.
        if (SUCCEEDED(hr))
            hr = Skip(&child);
        if (FAILED(hr))
            return hr;
        moof->Remaining -= child.Size;
    }
    return S_OK;
}

HRESULT CSSFFragment::ParseTraf(SSFBoxHeader* traf) {
    while (traf->Remaining != 0) {
        SSFBoxHeader child;
        HRESULT hr = ReadBoxHeader(&child, traf->Remaining);
        if (FAILED(hr))
            return hr;
        if (child.Is("tfhd"))
            hr = ParseTfhd(&child);
        else if (child.Is("trun"))
            hr = ParseTrun(&child);
        else if (child.Is("sdtp"))
            hr = ParseSdtp(&child);
        else if (child.Is("uuid") && std::memcmp(child.ExtendedType, kTfrfType, 16) == 0)
            hr = ParseTfrf(&child);
        if (SUCCEEDED(hr))
            hr = Skip(&child);
        if (FAILED(hr))
            return hr;
        traf->Remaining -= child.Size;
    }
    return S_OK;
}

HRESULT CSSFFragment::ParseTfhd(SSFBoxHeader* box) {
    HRESULT hr = ReadFullBoxPrefix(box, &TfhdVersion, &TfhdFlags);
    if (SUCCEEDED(hr))
        hr = Read32(box, &TrackId);
    if (FAILED(hr))
        return hr;
    BaseDataOffset = MoofOffset;
    if (TfhdFlags & 0x000001)
        hr = Read64(box, &BaseDataOffset);
    const struct {
        uint32_t Flag;
        uint32_t* Field;
    } optional[] = {{0x000002, &SampleDescriptionIndex},
                    {0x000008, &DefaultSampleDuration},
                    {0x000010, &DefaultSampleSize},
                    {0x000020, &DefaultSampleFlags}};
    for (const auto& field : optional)
        if (SUCCEEDED(hr) && (TfhdFlags & field.Flag))
            hr = Read32(box, field.Field);
    return hr;
}

HRESULT CSSFFragment::ParseTrun(SSFBoxHeader* box) {
    HRESULT hr = ReadFullBoxPrefix(box, &TrunVersion, &TrunFlags);
    if (SUCCEEDED(hr))
        hr = Read32(box, &SampleCount);
    if (SUCCEEDED(hr) && (TrunFlags & 0x000001)) {
        uint32_t offset = 0;
        hr = Read32(box, &offset);
        DataOffset = int32_t(offset);
    }
    if (SUCCEEDED(hr) && (TrunFlags & 0x000004))
        hr = Read32(box, &FirstSampleFlags);
    if (FAILED(hr))
        return hr;

    // A count the payload cannot hold fails as the reads would, before the allocation.
    uint64_t recordSize = 0;
    for (uint32_t flag : {0x100u, 0x200u, 0x400u, 0x800u})
        recordSize += (TrunFlags & flag) ? 4 : 0;
    if (recordSize == 0 ? SampleCount > kMaxFieldlessSamples
                        : uint64_t(SampleCount) * recordSize > box->Remaining) {
        Samples.clear();
        SampleCount = 0;
        return recordSize == 0 ? E_OUTOFMEMORY : E_FAIL;
    }
    hr = Allocate(&Samples, SampleCount);
    if (FAILED(hr)) {
        SampleCount = 0;
        return hr;
    }
    TotalDuration = 0;
    uint64_t position = 0;
    for (uint32_t i = 0; i < SampleCount; ++i) {
        SSFSample& sample = Samples[i];
        sample.Duration = DefaultSampleDuration;
        sample.Size = DefaultSampleSize;
        sample.Flags = (i == 0 && (TrunFlags & 0x004)) ? FirstSampleFlags : DefaultSampleFlags;
        if (TrunFlags & 0x100)
            hr = Read32(box, &sample.Duration);
        if (SUCCEEDED(hr) && (TrunFlags & 0x200))
            hr = Read32(box, &sample.Size);
        if (SUCCEEDED(hr) && (TrunFlags & 0x400))
            hr = Read32(box, &sample.Flags);
        if (SUCCEEDED(hr) && (TrunFlags & 0x800))
            hr = Read32(box, &sample.CompositionOffset);
        if (FAILED(hr))
            return hr;
        sample.DataPosition = position;
        sample.DecodeOffset = TotalDuration;
        position += sample.Size;
        TotalDuration += sample.Duration;
    }
    return S_OK;
}

HRESULT CSSFFragment::ParseSdtp(SSFBoxHeader* box) {
    BYTE version = 0;
    uint32_t flags = 0;
    HRESULT hr = ReadFullBoxPrefix(box, &version, &flags);
    for (uint32_t i = 0; SUCCEEDED(hr) && i < SampleCount; ++i) {
        BYTE b = 0;
        hr = Read8(box, &b);
        if (SUCCEEDED(hr))
            Samples[i].Flags = (Samples[i].Flags & ~0x03F00000u) | uint32_t(b & 0x3F) << 20;
    }
    return hr;
}

HRESULT CSSFFragment::ParseTfrf(SSFBoxHeader* box) {
    HRESULT hr = ReadFullBoxPrefix(box, &TfrfVersion, &TfrfFlags);
    if (SUCCEEDED(hr))
        hr = Read8(box, &LookaheadCount);
    if (SUCCEEDED(hr))
        hr = Allocate(&Lookahead, LookaheadCount);
    for (SSFLookaheadEntry& entry : Lookahead) {
        if (FAILED(hr))
            break;
        if (TfrfVersion == 1) {
            hr = Read64(box, &entry.AbsoluteTime);
            if (SUCCEEDED(hr))
                hr = Read64(box, &entry.Duration);
        } else {
            uint32_t time = 0, duration = 0;
            hr = Read32(box, &time);
            if (SUCCEEDED(hr))
                hr = Read32(box, &duration);
            entry = {time, duration};
        }
    }
    return hr;
}

HRESULT CSSFFragment::ApplyMdat() {
    int64_t payload = 0;
    HRESULT hr = HttpFile.Tell(&payload);
    if (FAILED(hr))
        return hr;
    for (SSFSample& sample : Samples)
        sample.DataPosition += uint64_t(payload);
    return S_OK;
}
