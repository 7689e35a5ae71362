#include "framework/platform/posix/reference_clock.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <new>
#include <system_error>

#include "framework/platform/posix/hresults.h"
#include "framework/platform/posix/sdk_guids.h"

namespace {

using Ticks = std::chrono::duration<int64_t, std::ratio<1, 10000000>>;

constexpr REFERENCE_TIME kMaxWait = 36000000000; // one hour

} // namespace

CSystemClock::CSystemClock() = default;

CSystemClock::~CSystemClock() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bQuit = true;
    }
    m_changed.notify_all();
    if (m_timer.joinable())
        m_timer.join();
}

HRESULT CSystemClock::CreateInstance(IUnknown* pOuter, REFIID riid, void** ppv) {
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = nullptr;
    if (pOuter != nullptr)
        return CLASS_E_NOAGGREGATION;
    CSystemClock* clock = new (std::nothrow) CSystemClock();
    if (clock == nullptr)
        return E_OUTOFMEMORY;
    clock->AddRef();
    const HRESULT hr = clock->QueryInterface(riid, ppv);
    clock->Release();
    return hr;
}

REFERENCE_TIME CSystemClock::Now() {
    return std::chrono::duration_cast<Ticks>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

STDMETHODIMP CSystemClock::GetTime(REFERENCE_TIME* pTime) {
    if (pTime == nullptr)
        return E_POINTER;
    const REFERENCE_TIME now = Now();
    std::lock_guard<std::mutex> lock(m_mutex);
    if (now <= m_rtLast) {
        *pTime = m_rtLast;
        return S_FALSE;
    }
    m_rtLast = now;
    *pTime = now;
    return S_OK;
}

STDMETHODIMP CSystemClock::AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime,
                                      HEVENT hEvent, DWORD_PTR* pdwAdviseCookie) {
    if (pdwAdviseCookie == nullptr)
        return E_POINTER;
    *pdwAdviseCookie = 0;
    if (hEvent == 0 || baseTime < 0 || streamTime < 0 ||
        baseTime > std::numeric_limits<REFERENCE_TIME>::max() - streamTime ||
        baseTime + streamTime <= 0)
        return E_INVALIDARG;
    return AddAdvise(baseTime + streamTime, 0, hEvent, pdwAdviseCookie);
}

STDMETHODIMP CSystemClock::AdvisePeriodic(REFERENCE_TIME startTime, REFERENCE_TIME periodTime,
                                          HSEMAPHORE hSemaphore, DWORD_PTR* pdwAdviseCookie) {
    if (pdwAdviseCookie == nullptr)
        return E_POINTER;
    *pdwAdviseCookie = 0;
    if (hSemaphore == 0 || startTime < 0 || periodTime <= 0)
        return E_INVALIDARG;
    return AddAdvise(startTime, periodTime, hSemaphore, pdwAdviseCookie);
}

HRESULT CSystemClock::AddAdvise(REFERENCE_TIME rtDue, REFERENCE_TIME rtPeriod, DWORD_PTR hEvent,
                                DWORD_PTR* pdwAdviseCookie) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_timer.joinable()) {
        try {
            m_timer = std::thread([this] { TimerLoop(); });
        } catch (const std::system_error&) {
            return E_OUTOFMEMORY;
        }
    }
    try {
        m_advises.push_back(
            Advise{m_dwNextCookie, rtDue, rtPeriod, reinterpret_cast<CPlatformEvent*>(hEvent)});
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    *pdwAdviseCookie = m_dwNextCookie++;
    m_changed.notify_all();
    return S_OK;
}

STDMETHODIMP CSystemClock::Unadvise(DWORD_PTR dwAdviseCookie) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = std::find_if(m_advises.begin(), m_advises.end(), [&](const Advise& advise) {
        return advise.dwCookie == dwAdviseCookie;
    });
    if (it == m_advises.end())
        return S_FALSE;
    m_advises.erase(it);
    m_changed.notify_all();
    return S_OK;
}

// Timer thread: sets the events that are due, under m_mutex so that Unadvise and the
// destructor never race with a Set, then sleeps until the earliest due time or a change.
void CSystemClock::TimerLoop() {
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_bQuit) {
        const REFERENCE_TIME now = Now();
        REFERENCE_TIME next = std::numeric_limits<REFERENCE_TIME>::max();
        for (size_t i = 0; i < m_advises.size();) {
            Advise& advise = m_advises[i];
            if (advise.rtDue <= now) {
                advise.pEvent->Set();
                if (advise.rtPeriod == 0) {
                    m_advises.erase(m_advises.begin() + ptrdiff_t(i));
                    continue;
                }
                const REFERENCE_TIME missed = (now - advise.rtDue) / advise.rtPeriod + 1;
                advise.rtDue += missed * advise.rtPeriod;
            }
            next = std::min(next, advise.rtDue);
            ++i;
        }
        if (next == std::numeric_limits<REFERENCE_TIME>::max()) {
            m_changed.wait(lock);
            continue;
        }
        // Far due times are approached an hour at a time, so the conversion never overflows.
        const REFERENCE_TIME wake = std::min(next, now + kMaxWait);
        m_changed.wait_until(
            lock,
            std::chrono::steady_clock::time_point(
                std::chrono::duration_cast<std::chrono::steady_clock::duration>(Ticks(wake))));
    }
}
