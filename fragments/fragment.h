// CSSFFragment: one chunk of one quality level, downloaded into a temporary file and
// taken apart into a sample table (box_parser.cpp) on the calling thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "fragments/http_file.h"
#include "framework/platform/platform.h"

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

// A box header as read: Remaining counts the payload bytes not read yet.
struct SSFBoxHeader {
    uint64_t Size = 0;
    char Type[4] = {};
    BYTE ExtendedType[16] = {};
    uint32_t HeaderLength = 0;
    uint64_t Remaining = 0;

    bool Is(const char* type) const;
};

// Depends on no other sample: sample_depends_on is 2.
inline bool IsSyncSample(uint32_t flags) {
    return (flags & 0x03000000) == 0x02000000;
}

class CSSFFragment {
public:
    explicit CSSFFragment(const char* url);
    virtual ~CSSFFragment() = default;

    // Fetches Url (delete-on-close), parses it and measures the throughput. S_OK or the
    // first error; a parse failure resets the fragment.
    virtual HRESULT Download();
    // Zeroes the parsed part and the measurement, frees the tables, closes the file.
    virtual HRESULT Reset();

    // The boxes of the body in HttpFile, positioned at its start, up to the first mdat.
    // E_FAIL for a malformed or truncated body, E_OUTOFMEMORY for a table too large.
    HRESULT ParseFragment();
    // One box header at the current position; limit: the bytes left in the container.
    HRESULT ReadBoxHeader(SSFBoxHeader* header, uint64_t limit);

    CHttpFile HttpFile;
    uint64_t TotalDuration = 0;
    uint64_t MoofOffset = 0;
    BYTE MfhdVersion = 0;
    uint32_t MfhdFlags = 0;
    uint32_t SequenceNumber = 0;
    BYTE TfhdVersion = 0;
    uint32_t TfhdFlags = 0;
    uint32_t TrackId = 0;
    uint64_t BaseDataOffset = 0;
    uint32_t SampleDescriptionIndex = 0;
    uint32_t DefaultSampleDuration = 0;
    uint32_t DefaultSampleSize = 0;
    uint32_t DefaultSampleFlags = 0;
    BYTE TrunVersion = 0;
    uint32_t TrunFlags = 0;
    uint32_t SampleCount = 0;
    int32_t DataOffset = 0;
    uint32_t FirstSampleFlags = 0;
    std::vector<SSFSample> Samples;
    BYTE TfrfVersion = 0;
    uint32_t TfrfFlags = 0;
    BYTE LookaheadCount = 0;
    std::vector<SSFLookaheadEntry> Lookahead;
    uint64_t MeasuredBitrate = 0; // bit/s; all ones when the download took no time
    // A measurement waits for the stream. Atomic: the stream looks at it while the
    // download may still run; MeasuredBitrate is written before it is set.
    std::atomic<BOOL> BitrateMeasured{FALSE};
    const std::string Url;

private:
    CSSFFragment(const CSSFFragment&) = delete;
    CSSFFragment& operator=(const CSSFFragment&) = delete;

    void ClearParsedPart();
    HRESULT ParseMoof(SSFBoxHeader* moof);
    HRESULT ParseTraf(SSFBoxHeader* traf);
    HRESULT ParseTfhd(SSFBoxHeader* box);
    HRESULT ParseTrun(SSFBoxHeader* box);
    HRESULT ParseSdtp(SSFBoxHeader* box);
    HRESULT ParseTfrf(SSFBoxHeader* box);
    HRESULT ApplyMdat();

    // Big-endian reads from box's payload: E_FAIL past its end or the body's.
    HRESULT ReadBytes(SSFBoxHeader* box, void* buffer, size_t size);
    HRESULT Read8(SSFBoxHeader* box, BYTE* value);
    HRESULT Read32(SSFBoxHeader* box, uint32_t* value);
    HRESULT Read64(SSFBoxHeader* box, uint64_t* value);
    HRESULT ReadFullBoxPrefix(SSFBoxHeader* box, BYTE* version, uint32_t* flags);
    HRESULT Skip(SSFBoxHeader* box);
};
