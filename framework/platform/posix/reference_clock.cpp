#include "framework/platform/posix/reference_clock.h"

#include <chrono>
#include <new>

#include "framework/platform/posix/hresults.h"
#include "framework/platform/posix/sdk_guids.h"

namespace {

using Ticks = std::chrono::duration<int64_t, std::ratio<1, 10000000>>;

REFERENCE_TIME Now() {
    return std::chrono::duration_cast<Ticks>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

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

STDMETHODIMP CSystemClock::AdviseTime(REFERENCE_TIME, REFERENCE_TIME, HEVENT,
                                      DWORD_PTR* pdwAdviseCookie) {
    if (pdwAdviseCookie != nullptr)
        *pdwAdviseCookie = 0;
    return E_NOTIMPL;
}

STDMETHODIMP CSystemClock::AdvisePeriodic(REFERENCE_TIME, REFERENCE_TIME, HSEMAPHORE,
                                          DWORD_PTR* pdwAdviseCookie) {
    if (pdwAdviseCookie != nullptr)
        *pdwAdviseCookie = 0;
    return E_NOTIMPL;
}

STDMETHODIMP CSystemClock::Unadvise(DWORD_PTR) {
    return E_NOTIMPL;
}
