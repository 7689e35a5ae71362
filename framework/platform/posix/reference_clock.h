// CSystemClock: the system reference clock (CLSID_SystemClock) over the monotonic clock.
//
// Times are REFERENCE_TIME, 100 ns units since an arbitrary start; they never go back.
// An HEVENT or HSEMAPHORE handed to AdviseTime/AdvisePeriodic is the address of a
// CPlatformEvent (see ClockEventHandle); the clock sets it from its timer thread. A
// periodic advise that falls behind sets the event once and resumes at the next period in
// the future (an event does not count like a semaphore). After Unadvise returns, the
// clock no longer touches that advise's event, so the caller may destroy it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "framework/platform/posix/filter_interfaces.h"
#include "framework/platform/posix/sync.h"
#include "framework/platform/unknown_impl.h"

inline DWORD_PTR ClockEventHandle(CPlatformEvent* event) {
    return reinterpret_cast<DWORD_PTR>(event);
}

class CSystemClock final : public CUnknownImpl<ComInterface<IReferenceClock, IID_IReferenceClock>> {
public:
    // The creator takes the first reference.
    CSystemClock();
    ~CSystemClock() override;

    // Class-table creator: CLASS_E_NOAGGREGATION with an outer object.
    static HRESULT CreateInstance(IUnknown* pOuter, REFIID riid, void** ppv);

    // S_FALSE when the time equals the one returned before (the clock has not advanced).
    STDMETHODIMP GetTime(REFERENCE_TIME* pTime) override;
    // Sets hEvent once at baseTime + streamTime (at once if that has passed). E_INVALIDARG
    // for a null event, a negative time or a sum that is not positive or overflows.
    STDMETHODIMP AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, HEVENT hEvent,
                            DWORD_PTR* pdwAdviseCookie) override;
    // Sets hSemaphore at startTime and every periodTime after. E_INVALIDARG for a null
    // event, a negative start or a period that is not positive.
    STDMETHODIMP AdvisePeriodic(REFERENCE_TIME startTime, REFERENCE_TIME periodTime,
                                HSEMAPHORE hSemaphore, DWORD_PTR* pdwAdviseCookie) override;
    // S_FALSE for an unknown cookie.
    STDMETHODIMP Unadvise(DWORD_PTR dwAdviseCookie) override;

private:
    CSystemClock(const CSystemClock&) = delete;
    CSystemClock& operator=(const CSystemClock&) = delete;

    struct Advise {
        DWORD_PTR dwCookie;
        REFERENCE_TIME rtDue;
        REFERENCE_TIME rtPeriod; // 0 for a one-shot advise
        CPlatformEvent* pEvent;
    };

    static REFERENCE_TIME Now();
    HRESULT AddAdvise(REFERENCE_TIME rtDue, REFERENCE_TIME rtPeriod, DWORD_PTR hEvent,
                      DWORD_PTR* pdwAdviseCookie);
    void TimerLoop();

    std::mutex m_mutex;
    std::condition_variable m_changed; // an advise was added or removed, or m_bQuit set
    std::vector<Advise> m_advises;     // guarded by m_mutex
    DWORD_PTR m_dwNextCookie = 1;      // guarded by m_mutex
    REFERENCE_TIME m_rtLast = 0;       // last time GetTime returned; guarded by m_mutex
    bool m_bQuit = false;              // guarded by m_mutex
    std::thread m_timer;               // started by the first advise
};
