// CSSFFragment: one chunk of one quality level, downloaded into a temporary file and
// taken apart by the box parser on the calling thread. The parsed part is the fragment's
// base, so the stream reads fragment->Samples and fragment->Lookahead directly.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "fragments/box_parser.h"
#include "fragments/http_file.h"
#include "framework/platform/platform.h"

class CSSFFragment : public SSFParsedFragment {
public:
    explicit CSSFFragment(const char* url);
    virtual ~CSSFFragment() = default;

    // Fetches Url (delete-on-close), parses it and measures the throughput. S_OK or the
    // first error; a parse failure resets the fragment.
    virtual HRESULT Download();
    // Clears the parsed part and the measurement, frees the tables, closes the file.
    virtual HRESULT Reset();

    CHttpFile HttpFile;
    uint64_t MeasuredBitrate = 0; // bit/s; all ones when the download took no time
    // A measurement waits for the stream. Atomic: the stream looks at it while the
    // download may still run; MeasuredBitrate is written before it is set.
    std::atomic<BOOL> BitrateMeasured{FALSE};
    const std::string Url;

private:
    CSSFFragment(const CSSFFragment&) = delete;
    CSSFFragment& operator=(const CSSFFragment&) = delete;
};
