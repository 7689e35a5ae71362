// CSSFFragment: one chunk of one quality level, downloaded into a temporary file, read
// back into memory in one read and taken apart there by the box parser on the calling
// thread. The parsed part is the fragment's base, so the stream reads fragment->Samples
// and fragment->Lookahead directly, and copies payloads out of Body.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "fragments/body_buffer.h"
#include "fragments/box_parser.h"
#include "fragments/http_file.h"
#include "framework/platform/platform.h"

class CAMEvent;

// The largest body a fragment may have, in bytes: eight times what a level of
// bitrate (bit/s) predicts for a chunk of durationTicks at timeScale (ticks per second),
// and never less than kHttpMinFragmentBodyLimit. A time scale of 0 counts as 10,000,000.
uint64_t FragmentBodyLimit(uint64_t bitrate, uint64_t durationTicks, uint64_t timeScale);

class CSSFFragment : public SSFParsedFragment {
public:
    // maxBodyBytes: a larger body fails the download (see FragmentBodyLimit).
    explicit CSSFFragment(const char* url, uint64_t maxBodyBytes = kHttpMinFragmentBodyLimit);
    virtual ~CSSFFragment() = default;

    // Fetches Url (delete-on-close, transient failures tried again as CHttpFile::Download
    // does, a set cancel event ending its retry delays), parses it and measures the
    // throughput of the attempt that succeeded. S_OK or the first error; a parse failure
    // resets the fragment. HttpFile.GetFailure() tells what a failed download met.
    virtual HRESULT Download(CAMEvent* cancel = nullptr);
    // Clears the parsed part and the measurement, frees the tables, gives Body back,
    // closes the file.
    virtual HRESULT Reset();

    // Copies the size bytes at body position into buffer: S_OK, or 0x80070026
    // (ERROR_HANDLE_EOF) when the body ends before, as a read of the file would.
    HRESULT CopyPayload(uint64_t position, uint32_t size, BYTE* buffer) const;

    CHttpFile HttpFile;
    CBodyBuffer Body;             // the whole body once downloaded; written by Download only
    uint64_t MeasuredBitrate = 0; // bit/s; all ones when the download took no time
    // A measurement waits for the stream. Atomic: the stream looks at it while the
    // download may still run; MeasuredBitrate is written before it is set.
    std::atomic<BOOL> BitrateMeasured{FALSE};
    const std::string Url;
    const uint64_t MaxBodyBytes;

private:
    CSSFFragment(const CSSFFragment&) = delete;
    CSSFFragment& operator=(const CSSFFragment&) = delete;
};
