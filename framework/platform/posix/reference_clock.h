// CSystemClock: the system reference clock (CLSID_SystemClock) over the monotonic clock.
//
// Times are REFERENCE_TIME, 100 ns units since an arbitrary start; they never go back.
// Its users only read the time (renderers pacing samples): the advise methods answer
// E_NOTIMPL.
#pragma once

#include <mutex>

#include "framework/platform/posix/filter_interfaces.h"
#include "framework/platform/unknown_impl.h"

class CSystemClock final : public CUnknownImpl<ComInterface<IReferenceClock, IID_IReferenceClock>> {
public:
    // The creator takes the first reference.
    CSystemClock() = default;

    // Class-table creator: CLASS_E_NOAGGREGATION with an outer object.
    static HRESULT CreateInstance(IUnknown* pOuter, REFIID riid, void** ppv);

    // S_FALSE when the time equals the one returned before (the clock has not advanced).
    STDMETHODIMP GetTime(REFERENCE_TIME* pTime) override;
    STDMETHODIMP AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, HEVENT hEvent,
                            DWORD_PTR* pdwAdviseCookie) override;
    STDMETHODIMP AdvisePeriodic(REFERENCE_TIME startTime, REFERENCE_TIME periodTime,
                                HSEMAPHORE hSemaphore, DWORD_PTR* pdwAdviseCookie) override;
    STDMETHODIMP Unadvise(DWORD_PTR dwAdviseCookie) override;

private:
    CSystemClock(const CSystemClock&) = delete;
    CSystemClock& operator=(const CSystemClock&) = delete;

    std::mutex m_mutex;
    REFERENCE_TIME m_rtLast = 0; // last time GetTime returned; guarded by m_mutex
};
