// CFilterGraph: the graph clock, state changes (IMediaControl, IMediaFilter) and the
// IDispatch slots.
#include <algorithm>
#include <chrono>

#include "framework/platform/posix/filter_graph.h"
#include "framework/platform/posix/hresults.h"
#include "framework/platform/posix/reference_clock.h"
#include "framework/platform/posix/sdk_guids.h"

// --- Clock ------------------------------------------------------------------------------

HRESULT CFilterGraph::SetSyncSourceLocked(IReferenceClock* pClock) {
    if (m_state != State_Stopped)
        return VFW_E_NOT_STOPPED;
    HRESULT result = S_OK;
    for (const FilterEntry& entry : m_filters) {
        const HRESULT hr = entry.pFilter->SetSyncSource(pClock);
        if (FAILED(hr) && SUCCEEDED(result))
            result = hr;
    }
    if (pClock != nullptr)
        pClock->AddRef();
    if (m_pClock != nullptr)
        m_pClock->Release();
    m_pClock = pClock;
    m_bClockChosen = true;
    return result;
}

HRESULT CFilterGraph::SetDefaultSyncSourceLocked() {
    if (m_state != State_Stopped)
        return VFW_E_NOT_STOPPED;
    IReferenceClock* pClock = nullptr;
    for (IBaseFilter* pFilter : DownstreamFirstLocked()) {
        if (SUCCEEDED(
                pFilter->QueryInterface(IID_IReferenceClock, reinterpret_cast<void**>(&pClock))) &&
            pClock != nullptr)
            break;
        pClock = nullptr;
    }
    if (pClock == nullptr) {
        const HRESULT hr = CSystemClock::CreateInstance(nullptr, IID_IReferenceClock,
                                                        reinterpret_cast<void**>(&pClock));
        if (FAILED(hr))
            return hr;
    }
    const HRESULT hr = SetSyncSourceLocked(pClock);
    pClock->Release();
    return hr;
}

STDMETHODIMP CFilterGraph::SetDefaultSyncSource() {
    CGraphLock lock(m_csGraph);
    return SetDefaultSyncSourceLocked();
}

STDMETHODIMP CFilterGraph::SetSyncSource(IReferenceClock* pClock) {
    CGraphLock lock(m_csGraph);
    return SetSyncSourceLocked(pClock);
}

STDMETHODIMP CFilterGraph::GetSyncSource(IReferenceClock** pClock) {
    if (pClock != nullptr)
        *pClock = nullptr;
    return E_NOTIMPL;
}

REFERENCE_TIME CFilterGraph::ClockTimeLocked() const {
    REFERENCE_TIME now = 0;
    if (m_pClock == nullptr || FAILED(m_pClock->GetTime(&now)))
        return 0;
    return now;
}

// --- State ------------------------------------------------------------------------------

HRESULT CFilterGraph::ApplyStateLocked(FILTER_STATE state, REFERENCE_TIME tStart) {
    HRESULT result = S_OK;
    for (IBaseFilter* pFilter : DownstreamFirstLocked()) {
        HRESULT hr = S_OK;
        if (state == State_Stopped)
            hr = pFilter->Stop();
        else if (state == State_Paused)
            hr = pFilter->Pause();
        else
            hr = pFilter->Run(tStart);
        if (FAILED(hr)) {
            if (SUCCEEDED(result))
                result = hr;
            if (state != State_Stopped)
                break;
        } else if (hr == S_FALSE && result == S_OK) {
            result = S_FALSE;
        }
    }
    return result;
}

HRESULT CFilterGraph::PauseLocked() {
    if (m_state == State_Paused)
        return S_OK;
    if (m_state == State_Stopped) {
        if (!m_bClockChosen)
            SetDefaultSyncSourceLocked();
        m_rtPausedAt = 0;
    } else {
        DisarmCompletion();
        if (m_pClock != nullptr)
            m_rtPausedAt = std::max<REFERENCE_TIME>(0, ClockTimeLocked() - m_rtStart);
    }
    const HRESULT hr = ApplyStateLocked(State_Paused, 0);
    if (FAILED(hr)) {
        ApplyStateLocked(State_Stopped, 0);
        m_state = State_Stopped;
        return hr;
    }
    m_state = State_Paused;
    return hr;
}

HRESULT CFilterGraph::RunLocked() {
    if (m_state == State_Running)
        return S_OK;
    HRESULT pauseHr = S_OK;
    if (m_state == State_Stopped) {
        pauseHr = PauseLocked();
        if (FAILED(pauseHr))
            return pauseHr;
    }
    const REFERENCE_TIME tStart = m_pClock != nullptr ? ClockTimeLocked() - m_rtPausedAt : 0;
    m_rtStart = tStart;
    // Armed before the filters run: a renderer may report its end of stream from Run.
    ArmCompletionLocked();
    const HRESULT hr = ApplyStateLocked(State_Running, tStart);
    if (FAILED(hr)) {
        DisarmCompletion();
        ApplyStateLocked(State_Stopped, 0);
        m_state = State_Stopped;
        return hr;
    }
    m_state = State_Running;
    return hr == S_FALSE || pauseHr == S_FALSE ? S_FALSE : S_OK;
}

HRESULT CFilterGraph::StopLocked() {
    if (m_state == State_Stopped)
        return S_OK;
    DisarmCompletion();
    if (m_state == State_Running)
        ApplyStateLocked(State_Paused, 0);
    const HRESULT hr = ApplyStateLocked(State_Stopped, 0);
    m_state = State_Stopped;
    m_rtPausedAt = 0;
    return hr;
}

STDMETHODIMP CFilterGraph::Run() {
    CGraphLock lock(m_csGraph);
    return RunLocked();
}

STDMETHODIMP CFilterGraph::Run(REFERENCE_TIME) {
    return E_NOTIMPL;
}

STDMETHODIMP CFilterGraph::Pause() {
    CGraphLock lock(m_csGraph);
    return PauseLocked();
}

STDMETHODIMP CFilterGraph::Stop() {
    CGraphLock lock(m_csGraph);
    return StopLocked();
}

// Asks every filter for its state without holding the graph lock, so a filter that takes
// the time-out to settle does not block other graph calls.
HRESULT CFilterGraph::StateOfFilters(DWORD msTimeout) {
    std::vector<IBaseFilter*> filters;
    {
        CGraphLock lock(m_csGraph);
        filters = DownstreamFirstLocked();
        for (IBaseFilter* pFilter : filters)
            pFilter->AddRef();
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(msTimeout);
    HRESULT result = S_OK;
    for (IBaseFilter* pFilter : filters) {
        DWORD remaining = INFINITE;
        if (msTimeout != INFINITE) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            remaining = DWORD(std::max<int64_t>(0, left.count()));
        }
        FILTER_STATE state = State_Stopped;
        const HRESULT hr = pFilter->GetState(remaining, &state);
        if (FAILED(hr)) {
            if (SUCCEEDED(result))
                result = hr;
        } else if (hr == VFW_S_STATE_INTERMEDIATE) {
            if (SUCCEEDED(result))
                result = hr;
        } else if (hr == VFW_S_CANT_CUE && result == S_OK) {
            result = hr;
        }
    }
    for (IBaseFilter* pFilter : filters)
        pFilter->Release();
    return result;
}

STDMETHODIMP CFilterGraph::GetState(LONG msTimeout, OAFilterState* pfs) {
    if (pfs == nullptr)
        return E_POINTER;
    {
        CGraphLock lock(m_csGraph);
        *pfs = m_state;
    }
    return StateOfFilters(msTimeout < 0 ? INFINITE : DWORD(msTimeout));
}

STDMETHODIMP CFilterGraph::GetState(DWORD, FILTER_STATE* State) {
    if (State != nullptr)
        *State = State_Stopped;
    return E_NOTIMPL;
}

STDMETHODIMP CFilterGraph::StopWhenReady() {
    return E_NOTIMPL;
}

STDMETHODIMP CFilterGraph::RenderFile(BSTR) {
    return E_NOTIMPL;
}

STDMETHODIMP CFilterGraph::AddSourceFilter(BSTR, IDispatch** ppUnk) {
    if (ppUnk != nullptr)
        *ppUnk = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CFilterGraph::get_FilterCollection(IDispatch** ppUnk) {
    if (ppUnk != nullptr)
        *ppUnk = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CFilterGraph::get_RegFilterCollection(IDispatch** ppUnk) {
    if (ppUnk != nullptr)
        *ppUnk = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CFilterGraph::GetClassID(CLSID*) {
    return E_NOTIMPL;
}

// --- IDispatch --------------------------------------------------------------------------

STDMETHODIMP CFilterGraph::GetTypeInfoCount(UINT*) {
    return E_NOTIMPL;
}

STDMETHODIMP CFilterGraph::GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) {
    if (ppTInfo != nullptr)
        *ppTInfo = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CFilterGraph::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) {
    return E_NOTIMPL;
}

STDMETHODIMP CFilterGraph::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                  UINT*) {
    return E_NOTIMPL;
}
