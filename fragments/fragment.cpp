#include "fragments/fragment.h"

#include <cstring>

uint64_t FragmentBodyLimit(uint64_t bitrate, uint64_t durationTicks, uint64_t timeScale) {
    // 8 × (bitrate / 8) bytes per second × seconds, in 128 bits so nothing wraps.
    const unsigned __int128 predicted = static_cast<unsigned __int128>(bitrate) * durationTicks /
                                        (timeScale ? timeScale : 10000000u);
    if (predicted > UINT64_MAX)
        return UINT64_MAX;
    return predicted > kHttpMinFragmentBodyLimit ? uint64_t(predicted) : kHttpMinFragmentBodyLimit;
}

CSSFFragment::CSSFFragment(const char* url, uint64_t maxBodyBytes)
    : Url(url ? url : ""), MaxBodyBytes(maxBodyBytes) {}

HRESULT CSSFFragment::Reset() {
    // Assigning a fresh part frees the tables.
    static_cast<SSFParsedFragment&>(*this) = SSFParsedFragment();
    MeasuredBitrate = 0;
    BitrateMeasured.store(FALSE);
    Body.ReturnToPool();
    HttpFile.Close();
    return S_OK;
}

HRESULT CSSFFragment::CopyPayload(uint64_t position, uint32_t size, BYTE* buffer) const {
    if (position > Body.Size() || size > Body.Size() - position)
        return HRESULT_FROM_WIN32(ERROR_HANDLE_EOF);
    std::memcpy(buffer, Body.Data() + position, size);
    return S_OK;
}

HRESULT CSSFFragment::Download(CAMEvent* cancel) {
    HRESULT hr = HttpFile.Download(Url.c_str(), MaxBodyBytes, cancel, &Body);
    if (FAILED(hr))
        return hr;
    // Failed attempts and retry delays say nothing of the throughput.
    const DWORD t0 = HttpFile.GetAttemptStartTick();
    hr = CBoxParser(this).Parse(Body.Data(), Body.Size());
    if (FAILED(hr)) {
        CSSFFragment::Reset(); // a derived Reset may end the thread this runs on
        return hr;
    }
    const DWORD t1 = GetTickCount();
    const uint64_t length = Body.Size();
    if (t1 == t0) {
        MeasuredBitrate = ~uint64_t(0);
    } else {
        // The 32-bit difference stays right across a wrap of the tick counter.
        MeasuredBitrate = length * 8000 / DWORD(t1 - t0);
        BitrateMeasured.store(TRUE, std::memory_order_release);
    }
    return S_OK;
}
