// The box parser: a fragment body's boxes before its first mdat are taken apart in memory
// through bounded cursors into an SSFParsedFragment.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "framework/platform/platform.h"

class CHttpFile;

// tfhd flags: which optional fields follow the track id.
constexpr uint32_t kTfhdBaseDataOffsetPresent = 0x000001;
constexpr uint32_t kTfhdSampleDescriptionIndexPresent = 0x000002;
constexpr uint32_t kTfhdDefaultDurationPresent = 0x000008;
constexpr uint32_t kTfhdDefaultSizePresent = 0x000010;
constexpr uint32_t kTfhdDefaultFlagsPresent = 0x000020;

// trun flags: the optional fields after the sample count, then the per-sample fields.
constexpr uint32_t kTrunDataOffsetPresent = 0x000001;
constexpr uint32_t kTrunFirstSampleFlagsPresent = 0x000004;
constexpr uint32_t kTrunSampleDurationPresent = 0x000100;
constexpr uint32_t kTrunSampleSizePresent = 0x000200;
constexpr uint32_t kTrunSampleFlagsPresent = 0x000400;
constexpr uint32_t kTrunCompositionOffsetPresent = 0x000800;

// Sample flags: sample_depends_on, and the six sdtp bits (is_leading is not carried)
// that replace bits 20-25.
constexpr uint32_t kSampleDependsOnMask = 0x03000000;
constexpr uint32_t kSampleDependsOnNothing = 0x02000000;
constexpr unsigned kSdtpShift = 20;
constexpr uint32_t kSdtpBits = 0x3F;

inline bool IsSyncSample(uint32_t flags) {
    return (flags & kSampleDependsOnMask) == kSampleDependsOnNothing;
}

// One sample of a fragment, in stream time.
struct SSFSample {
    uint32_t Duration;
    uint32_t Size;              // bytes
    uint32_t Flags;             // ISO sample flags
    uint32_t CompositionOffset; // kept, not used for time stamps
    uint64_t DecodeOffset;      // sum of the earlier samples' durations
    uint64_t DataPosition;      // body position of the sample's first byte
};

// A later chunk announced by a live fragment.
struct SSFLookaheadEntry {
    uint64_t AbsoluteTime;
    uint64_t Duration;
};

// The fields of the boxes as last read: a later box of a kind overwrites the fields it
// carries; fields it does not carry keep their values.
struct SSFParsedFragment {
    struct MfhdFields {
        BYTE Version = 0;
        uint32_t Flags = 0;
        uint32_t SequenceNumber = 0;
    };
    struct TfhdFields {
        BYTE Version = 0;
        uint32_t Flags = 0;
        uint32_t TrackId = 0;
        uint64_t BaseDataOffset = 0; // the moof's body position unless present
        uint32_t SampleDescriptionIndex = 0;
        uint32_t DefaultSampleDuration = 0;
        uint32_t DefaultSampleSize = 0;
        uint32_t DefaultSampleFlags = 0;
    };
    struct TrunFields {
        BYTE Version = 0;
        uint32_t Flags = 0;
        int32_t DataOffset = 0;
        uint32_t FirstSampleFlags = 0;
    };
    struct TfrfFields {
        BYTE Version = 0;
        uint32_t Flags = 0;
    };

    uint64_t MoofOffset = 0;    // body position of the moof read last
    uint64_t TotalDuration = 0; // sum of the sample durations
    uint32_t SampleCount = 0;   // the trun's count; Samples.size() after a successful parse
    std::vector<SSFSample> Samples;
    BYTE LookaheadCount = 0; // the tfrf's count; Lookahead.size() after a successful parse
    std::vector<SSFLookaheadEntry> Lookahead;
    MfhdFields Mfhd;
    TfhdFields Tfhd;
    TrunFields Trun;
    TfrfFields Tfrf; // the look-ahead box
};

// Big-endian reads from a bounded span of memory. A read past the end fails, leaves its
// output untouched and makes every later read fail too, so a run of fields can be read
// and checked once.
class CBoxCursor {
public:
    CBoxCursor() = default;
    CBoxCursor(const BYTE* data, size_t size) : m_data(data), m_left(size) {}

    bool Ok() const { return !m_failed; }
    size_t Left() const { return m_left; } // 0 after a failure

    bool ReadBytes(void* buffer, size_t size);
    bool Read8(BYTE* value);
    bool Read32(uint32_t* value);
    bool Read64(uint64_t* value);
    // The version and flags word that opens a full box.
    bool ReadVersionAndFlags(BYTE* version, uint32_t* flags);
    // The next size bytes as a cursor of their own; this one moves past them. A failed
    // cursor (and a failure of this one) when fewer are left.
    CBoxCursor Sub(uint64_t size);
    // Whether count records of recordSize bytes fit in what is left, without overflow.
    bool Holds(uint64_t count, uint64_t recordSize) const;

private:
    bool Fail();

    const BYTE* m_data = nullptr;
    size_t m_left = 0;
    bool m_failed = false;
};

// A box header as read. HeaderLength counts a uuid box's extended type.
struct SSFBoxHeader {
    uint64_t Size = 0;
    char Type[4] = {};
    BYTE ExtendedType[16] = {};
    uint32_t HeaderLength = 0;

    bool Is(const char* type) const;
};

// One box header from cursor. limit: the bytes left in the container from the header's
// first byte (a size of 0 extends to it). False for a truncated header, a size below the
// header's length or above limit (limit stays below 2^63, so a 64-bit size from 2^63 up
// is an overrun too).
bool ReadBoxHeader(CBoxCursor* cursor, uint64_t limit, SSFBoxHeader* header);

// Parses a fragment body into result: moof (mfhd, traf: tfhd, trun, sdtp, tfrf) up to the
// first mdat, whose payload position the sample positions are made absolute against.
// Every other box is skipped, so are bytes a recognised box holds beyond its fields.
class CBoxParser {
public:
    // result: filled in place, not owned.
    explicit CBoxParser(SSFParsedFragment* result) : m_result(*result) {}

    // Parses the size bytes at body. S_OK; E_FAIL for a malformed or truncated body;
    // E_OUTOFMEMORY for a table too large. The result keeps what was read up to a failure.
    HRESULT Parse(const BYTE* body, size_t size);
    // The same for the bytes of body from its current position, which is its start, read
    // in one call; else the file's error.
    HRESULT Parse(CHttpFile* body);

private:
    using BoxHandler = HRESULT (CBoxParser::*)(CBoxCursor* payload);
    struct ChildHandler {
        const char* Type;
        const BYTE* ExtendedType; // for a uuid box; nullptr: any
        BoxHandler Parse;
    };

    // Walks the child boxes of container, handing each payload to its handler.
    template <size_t N>
    HRESULT ParseChildren(CBoxCursor* container, const ChildHandler (&handlers)[N]);
    HRESULT ParseMoof(CBoxCursor* box);
    HRESULT ParseMfhd(CBoxCursor* box);
    HRESULT ParseTraf(CBoxCursor* box);
    HRESULT ParseTfhd(CBoxCursor* box);
    HRESULT ParseTrun(CBoxCursor* box);
    HRESULT ParseSdtp(CBoxCursor* box);
    HRESULT ParseTfrf(CBoxCursor* box);

    SSFParsedFragment& m_result;
};
