#include "fragments/fragment.h"

CSSFFragment::CSSFFragment(const char* url) : Url(url ? url : "") {}

void CSSFFragment::ClearParsedPart() {
    TotalDuration = MoofOffset = BaseDataOffset = 0;
    MfhdVersion = TfhdVersion = TrunVersion = TfrfVersion = LookaheadCount = 0;
    MfhdFlags = TfhdFlags = TrunFlags = TfrfFlags = 0;
    SequenceNumber = TrackId = SampleDescriptionIndex = 0;
    DefaultSampleDuration = DefaultSampleSize = DefaultSampleFlags = 0;
    SampleCount = FirstSampleFlags = 0;
    DataOffset = 0;
    std::vector<SSFSample>().swap(Samples);
    std::vector<SSFLookaheadEntry>().swap(Lookahead);
}

HRESULT CSSFFragment::Reset() {
    ClearParsedPart();
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
    hr = ParseFragment();
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
