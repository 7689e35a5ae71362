#include "fragments/fragment.h"

CSSFFragment::CSSFFragment(const char* url) : Url(url ? url : "") {}

HRESULT CSSFFragment::Reset() {
    // Assigning a fresh part frees the tables.
    static_cast<SSFParsedFragment&>(*this) = SSFParsedFragment();
    MeasuredBitrate = 0;
    BitrateMeasured.store(FALSE);
    HttpFile.Close();
    return S_OK;
}

HRESULT CSSFFragment::Download() {
    const DWORD t0 = GetTickCount();
    HRESULT hr = HttpFile.Download(Url.c_str(), true);
    if (FAILED(hr))
        return hr;
    hr = CBoxParser(this).Parse(&HttpFile);
    if (FAILED(hr)) {
        CSSFFragment::Reset(); // a derived Reset may end the thread this runs on
        return hr;
    }
    const DWORD t1 = GetTickCount();
    int64_t length = 0;
    HttpFile.GetLength(&length);
    if (t1 == t0) {
        MeasuredBitrate = ~uint64_t(0);
    } else {
        // The 32-bit difference stays right across a wrap of the tick counter.
        MeasuredBitrate = uint64_t(length) * 8000 / DWORD(t1 - t0);
        BitrateMeasured.store(TRUE, std::memory_order_release);
    }
    return S_OK;
}
