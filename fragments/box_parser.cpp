#include "fragments/box_parser.h"

#include <cstring>
#include <new>
#include <stdexcept>

#include "fragments/http_file.h"

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

HRESULT Checked(const CBoxCursor& box) {
    return box.Ok() ? S_OK : E_FAIL;
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

bool CBoxCursor::Fail() {
    m_failed = true;
    m_left = 0;
    return false;
}

bool CBoxCursor::ReadBytes(void* buffer, size_t size) {
    if (m_failed || size > m_left)
        return Fail();
    if (size != 0)
        std::memcpy(buffer, m_data, size);
    m_data += size;
    m_left -= size;
    return true;
}

bool CBoxCursor::Read8(BYTE* value) {
    return ReadBytes(value, 1);
}

bool CBoxCursor::Read32(uint32_t* value) {
    BYTE bytes[4];
    if (!ReadBytes(bytes, 4))
        return false;
    *value = BigEndian32(bytes);
    return true;
}

bool CBoxCursor::Read64(uint64_t* value) {
    BYTE bytes[8];
    if (!ReadBytes(bytes, 8))
        return false;
    *value = uint64_t(BigEndian32(bytes)) << 32 | BigEndian32(bytes + 4);
    return true;
}

bool CBoxCursor::ReadVersionAndFlags(BYTE* version, uint32_t* flags) {
    uint32_t word = 0;
    if (!Read32(&word))
        return false;
    *version = BYTE(word >> 24);
    *flags = word & 0xFFFFFF;
    return true;
}

CBoxCursor CBoxCursor::Sub(uint64_t size) {
    CBoxCursor sub;
    if (m_failed || size > m_left) {
        Fail();
        sub.Fail();
        return sub;
    }
    sub = CBoxCursor(m_data, size_t(size));
    m_data += size;
    m_left -= size_t(size);
    return sub;
}

bool CBoxCursor::Holds(uint64_t count, uint64_t recordSize) const {
    return recordSize == 0 || count <= m_left / recordSize;
}

bool SSFBoxHeader::Is(const char* type) const {
    return std::memcmp(Type, type, 4) == 0;
}

bool ReadBoxHeader(CBoxCursor* cursor, uint64_t limit, SSFBoxHeader* header) {
    *header = SSFBoxHeader();
    uint32_t size = 0;
    cursor->Read32(&size);
    cursor->ReadBytes(header->Type, 4);
    header->Size = size;
    header->HeaderLength = 8;
    if (size == 1) {
        cursor->Read64(&header->Size);
        header->HeaderLength = 16;
    } else if (size == 0) {
        header->Size = limit;
    }
    // A box smaller than its own header is rejected rather than read with a wrapped
    // payload.
    if (!cursor->Ok() || header->Size > uint64_t(INT64_MAX) || header->Size > limit ||
        header->Size < header->HeaderLength)
        return false;
    if (header->Is("uuid")) {
        // The cursor may hold the next box's bytes: the box's own size bounds the type.
        if (header->Size - header->HeaderLength < sizeof header->ExtendedType)
            return false;
        cursor->ReadBytes(header->ExtendedType, sizeof header->ExtendedType);
        header->HeaderLength += sizeof header->ExtendedType;
    }
    return cursor->Ok();
}

HRESULT CBoxParser::Parse(CHttpFile* file) {
    int64_t length = 0;
    HRESULT hr = file->GetLength(&length);
    if (FAILED(hr))
        return hr;
    if (uint64_t(length) != size_t(length))
        return E_OUTOFMEMORY;
    std::vector<BYTE> body;
    try {
        body.resize(size_t(length));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (const std::length_error&) {
        return E_OUTOFMEMORY;
    }
    size_t count = 0;
    hr = file->Read(body.data(), body.size(), &count);
    if (FAILED(hr))
        return hr;
    return Parse(body.data(), count);
}

HRESULT CBoxParser::Parse(const BYTE* body, size_t size) {
    for (size_t position = 0;;) {
        const uint64_t limit = size - position;
        CBoxCursor cursor(body + position, size - position);
        SSFBoxHeader box;
        if (!ReadBoxHeader(&cursor, limit, &box))
            return E_FAIL;
        const uint64_t payload = position + box.HeaderLength;
        if (box.Is("mdat")) {
            for (SSFSample& sample : m_result.Samples)
                sample.DataPosition += payload;
            return S_OK;
        }
        if (box.Is("moof")) {
            m_result.MoofOffset = position;
            CBoxCursor moof(body + payload, size_t(box.Size - box.HeaderLength));
            HRESULT hr = ParseMoof(&moof);
            if (FAILED(hr))
                return hr;
        }
        position += size_t(box.Size);
    }
}

template <size_t N>
HRESULT CBoxParser::ParseChildren(CBoxCursor* container, const ChildHandler (&handlers)[N]) {
    while (container->Left() != 0) {
        const uint64_t limit = container->Left();
        SSFBoxHeader child;
        if (!ReadBoxHeader(container, limit, &child))
            return E_FAIL;
        // The payload is taken whole, so bytes beyond a handler's fields are passed over.
        CBoxCursor payload = container->Sub(child.Size - child.HeaderLength);
        for (const ChildHandler& handler : handlers) {
            if (!child.Is(handler.Type) ||
                (handler.ExtendedType &&
                 std::memcmp(child.ExtendedType, handler.ExtendedType, 16) != 0))
                continue;
            HRESULT hr = (this->*handler.Parse)(&payload);
            if (FAILED(hr))
                return hr;
            break;
        }
    }
    return S_OK;
}

HRESULT CBoxParser::ParseMoof(CBoxCursor* box) {
    static const ChildHandler kChildren[] = {{"mfhd", nullptr, &CBoxParser::ParseMfhd},
                                             {"traf", nullptr, &CBoxParser::ParseTraf}};
    return ParseChildren(box, kChildren);
}

HRESULT CBoxParser::ParseTraf(CBoxCursor* box) {
    static const ChildHandler kChildren[] = {{"tfhd", nullptr, &CBoxParser::ParseTfhd},
                                             {"trun", nullptr, &CBoxParser::ParseTrun},
                                             {"sdtp", nullptr, &CBoxParser::ParseSdtp},
                                             {"uuid", kTfrfType, &CBoxParser::ParseTfrf}};
    return ParseChildren(box, kChildren);
}

HRESULT CBoxParser::ParseMfhd(CBoxCursor* box) {
    SSFParsedFragment::MfhdFields& mfhd = m_result.Mfhd;
    box->ReadVersionAndFlags(&mfhd.Version, &mfhd.Flags);
    box->Read32(&mfhd.SequenceNumber);
    return Checked(*box);
}

HRESULT CBoxParser::ParseTfhd(CBoxCursor* box) {
    SSFParsedFragment::TfhdFields& tfhd = m_result.Tfhd;
    box->ReadVersionAndFlags(&tfhd.Version, &tfhd.Flags);
    box->Read32(&tfhd.TrackId);
    if (!box->Ok())
        return E_FAIL;
    tfhd.BaseDataOffset = m_result.MoofOffset;
    if (tfhd.Flags & kTfhdBaseDataOffsetPresent)
        box->Read64(&tfhd.BaseDataOffset);
    const struct {
        uint32_t Flag;
        uint32_t* Field;
    } optional[] = {{kTfhdSampleDescriptionIndexPresent, &tfhd.SampleDescriptionIndex},
                    {kTfhdDefaultDurationPresent, &tfhd.DefaultSampleDuration},
                    {kTfhdDefaultSizePresent, &tfhd.DefaultSampleSize},
                    {kTfhdDefaultFlagsPresent, &tfhd.DefaultSampleFlags}};
    for (const auto& field : optional)
        if (tfhd.Flags & field.Flag)
            box->Read32(field.Field);
    return Checked(*box);
}

HRESULT CBoxParser::ParseTrun(CBoxCursor* box) {
    SSFParsedFragment::TrunFields& trun = m_result.Trun;
    const SSFParsedFragment::TfhdFields& tfhd = m_result.Tfhd;
    box->ReadVersionAndFlags(&trun.Version, &trun.Flags);
    box->Read32(&m_result.SampleCount);
    if (box->Ok() && (trun.Flags & kTrunDataOffsetPresent)) {
        uint32_t offset = 0; // a cut field leaves 0
        box->Read32(&offset);
        trun.DataOffset = int32_t(offset);
    }
    if (trun.Flags & kTrunFirstSampleFlagsPresent)
        box->Read32(&trun.FirstSampleFlags);
    if (!box->Ok())
        return E_FAIL;

    // A count the payload cannot hold fails as the reads would, before the allocation.
    const uint32_t count = m_result.SampleCount;
    uint64_t recordSize = 0;
    for (uint32_t flag : {kTrunSampleDurationPresent, kTrunSampleSizePresent,
                          kTrunSampleFlagsPresent, kTrunCompositionOffsetPresent})
        recordSize += (trun.Flags & flag) ? 4 : 0;
    if (recordSize == 0 ? count > kMaxFieldlessSamples : !box->Holds(count, recordSize)) {
        m_result.Samples.clear();
        m_result.SampleCount = 0;
        return recordSize == 0 ? E_OUTOFMEMORY : E_FAIL;
    }
    HRESULT hr = Allocate(&m_result.Samples, count);
    if (FAILED(hr)) {
        m_result.SampleCount = 0;
        return hr;
    }
    m_result.TotalDuration = 0;
    uint64_t position = 0;
    for (uint32_t i = 0; i < count; ++i) {
        SSFSample& sample = m_result.Samples[i];
        sample.Duration = tfhd.DefaultSampleDuration;
        sample.Size = tfhd.DefaultSampleSize;
        sample.Flags = (i == 0 && (trun.Flags & kTrunFirstSampleFlagsPresent))
                           ? trun.FirstSampleFlags
                           : tfhd.DefaultSampleFlags;
        if (trun.Flags & kTrunSampleDurationPresent)
            box->Read32(&sample.Duration);
        if (trun.Flags & kTrunSampleSizePresent)
            box->Read32(&sample.Size);
        if (trun.Flags & kTrunSampleFlagsPresent)
            box->Read32(&sample.Flags);
        if (trun.Flags & kTrunCompositionOffsetPresent)
            box->Read32(&sample.CompositionOffset);
        sample.DataPosition = position;
        sample.DecodeOffset = m_result.TotalDuration;
        position += sample.Size;
        m_result.TotalDuration += sample.Duration;
    }
    return Checked(*box);
}

HRESULT CBoxParser::ParseSdtp(CBoxCursor* box) {
    BYTE version = 0;
    uint32_t flags = 0;
    box->ReadVersionAndFlags(&version, &flags);
    // One byte a sample, applied up to a cut.
    for (SSFSample& sample : m_result.Samples) {
        BYTE bits = 0;
        if (!box->Read8(&bits))
            break;
        sample.Flags = (sample.Flags & ~(kSdtpBits << kSdtpShift)) | uint32_t(bits & kSdtpBits)
                                                                         << kSdtpShift;
    }
    return Checked(*box);
}

HRESULT CBoxParser::ParseTfrf(CBoxCursor* box) {
    SSFParsedFragment::TfrfFields& tfrf = m_result.Tfrf;
    box->ReadVersionAndFlags(&tfrf.Version, &tfrf.Flags);
    box->Read8(&m_result.LookaheadCount);
    if (!box->Ok())
        return E_FAIL;
    if (!box->Holds(m_result.LookaheadCount, tfrf.Version == 1 ? 16 : 8)) {
        m_result.Lookahead.clear();
        m_result.LookaheadCount = 0;
        return E_FAIL;
    }
    HRESULT hr = Allocate(&m_result.Lookahead, m_result.LookaheadCount);
    if (FAILED(hr))
        return hr;
    for (SSFLookaheadEntry& entry : m_result.Lookahead) {
        if (tfrf.Version == 1) {
            box->Read64(&entry.AbsoluteTime);
            box->Read64(&entry.Duration);
        } else {
            uint32_t time = 0, duration = 0;
            box->Read32(&time);
            box->Read32(&duration);
            entry = {time, duration};
        }
    }
    return Checked(*box);
}
