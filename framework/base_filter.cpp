#include "framework/base_filter.h"

#include <new>

#include "framework/base_pin.h"
#include "framework/enumerators.h"

namespace {

// Copies source into a fixed buffer of count characters, truncating, always terminated.
void CopyName(WCHAR* target, size_t count, const std::wstring& source) {
    const size_t length = source.size() < count - 1 ? source.size() : count - 1;
    source.copy(target, length);
    target[length] = 0;
}

} // namespace

CBaseFilter::CBaseFilter(LPCWSTR pName, LPUNKNOWN pUnk, CCritSec* pLock, REFCLSID clsid,
                         HRESULT* phr)
    : CUnknown(pName, pUnk, phr), m_pLock(pLock), m_clsid(clsid) {}

CBaseFilter::~CBaseFilter() = default;

STDMETHODIMP CBaseFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr)
        return E_POINTER;
    if (riid == IID_IBaseFilter)
        return GetInterface(static_cast<IBaseFilter*>(this), ppv);
    if (riid == IID_IMediaFilter)
        return GetInterface(static_cast<IMediaFilter*>(this), ppv);
    if (riid == IID_IPersist)
        return GetInterface(static_cast<IPersist*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP CBaseFilter::GetClassID(CLSID* pClsID) {
    if (pClsID == nullptr)
        return E_POINTER;
    *pClsID = m_clsid;
    return S_OK;
}

STDMETHODIMP CBaseFilter::Stop() {
    CAutoLock lock(m_pLock);
    HRESULT hr = S_OK;
    if (m_State != State_Stopped) {
        const int count = GetPinCount();
        for (int i = 0; i < count; ++i) {
            CBasePin* pin = GetPin(i);
            if (pin == nullptr || !pin->IsConnected())
                continue;
            const HRESULT hrPin = pin->Inactive();
            if (FAILED(hrPin) && SUCCEEDED(hr))
                hr = hrPin;
        }
    }
    m_State = State_Stopped;
    return hr;
}

STDMETHODIMP CBaseFilter::Pause() {
    CAutoLock lock(m_pLock);
    if (m_State == State_Stopped) {
        const int count = GetPinCount();
        for (int i = 0; i < count; ++i) {
            CBasePin* pin = GetPin(i);
            if (pin == nullptr || !pin->IsConnected())
                continue;
            const HRESULT hr = pin->Active();
            if (FAILED(hr))
                return hr;
        }
    }
    m_State = State_Paused;
    return S_OK;
}

STDMETHODIMP CBaseFilter::Run(REFERENCE_TIME tStart) {
    CAutoLock lock(m_pLock);
    m_tStart = tStart;
    if (m_State == State_Stopped) {
        const HRESULT hr = static_cast<IBaseFilter*>(this)->Pause();
        if (FAILED(hr))
            return hr;
    }
    if (m_State != State_Running) {
        const int count = GetPinCount();
        for (int i = 0; i < count; ++i) {
            CBasePin* pin = GetPin(i);
            if (pin == nullptr || !pin->IsConnected())
                continue;
            const HRESULT hr = pin->Run(tStart);
            if (FAILED(hr))
                return hr;
        }
    }
    m_State = State_Running;
    return S_OK;
}

STDMETHODIMP CBaseFilter::GetState(DWORD, FILTER_STATE* State) {
    if (State == nullptr)
        return E_POINTER;
    *State = m_State;
    return S_OK;
}

STDMETHODIMP CBaseFilter::SetSyncSource(IReferenceClock* pClock) {
    CAutoLock lock(m_pLock);
    m_pClock = pClock;
    return S_OK;
}

STDMETHODIMP CBaseFilter::GetSyncSource(IReferenceClock** pClock) {
    if (pClock == nullptr)
        return E_POINTER;
    CAutoLock lock(m_pLock);
    m_pClock.CopyTo(pClock);
    return S_OK;
}

STDMETHODIMP CBaseFilter::EnumPins(IEnumPins** ppEnum) {
    if (ppEnum == nullptr)
        return E_POINTER;
    ComPtr<IEnumPins> pins(new (std::nothrow) CEnumPins(this));
    *ppEnum = pins.Detach();
    return *ppEnum != nullptr ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CBaseFilter::FindPin(LPCWSTR Id, IPin** ppPin) {
    if (Id == nullptr || ppPin == nullptr)
        return E_POINTER;
    *ppPin = nullptr;
    CAutoLock lock(m_pLock);
    const int count = GetPinCount();
    for (int i = 0; i < count; ++i) {
        CBasePin* pin = GetPin(i);
        if (pin == nullptr)
            continue;
        LPWSTR pinId = nullptr;
        if (FAILED(pin->QueryId(&pinId)))
            continue;
        const bool same = std::wstring(pinId) == Id;
        CoTaskMemFree(pinId);
        if (same)
            return GetInterface(static_cast<IPin*>(pin), reinterpret_cast<void**>(ppPin));
    }
    return VFW_E_NOT_FOUND;
}

STDMETHODIMP CBaseFilter::QueryFilterInfo(FILTER_INFO* pInfo) {
    if (pInfo == nullptr)
        return E_POINTER;
    CAutoLock lock(m_pLock);
    CopyName(pInfo->achName, MAX_FILTER_NAME, m_wsName);
    pInfo->pGraph = m_pGraph;
    if (m_pGraph != nullptr)
        m_pGraph->AddRef();
    return S_OK;
}

STDMETHODIMP CBaseFilter::JoinFilterGraph(IFilterGraph* pGraph, LPCWSTR pName) {
    CAutoLock lock(m_pLock);
    m_pGraph = pGraph;
    // The sink is kept unreferenced, like the graph that holds this filter.
    ComPtr<IMediaEventSink> sink;
    if (pGraph != nullptr)
        pGraph->QueryInterface(IID_IMediaEventSink, sink.OutVoid());
    m_pSink = sink.Get();
    try {
        m_wsName = pName != nullptr ? pName : L"";
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

STDMETHODIMP CBaseFilter::QueryVendorInfo(LPWSTR*) {
    return E_NOTIMPL;
}

HRESULT CBaseFilter::NotifyEvent(LONG EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2) {
    IMediaEventSink* sink = m_pSink.load();
    if (sink == nullptr)
        return E_NOTIMPL;
    if (EventCode == EC_COMPLETE)
        EventParam2 = reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this));
    return sink->Notify(EventCode, EventParam1, EventParam2);
}

BOOL CBaseFilter::IsActive() {
    CAutoLock lock(m_pLock);
    return m_State != State_Stopped ? TRUE : FALSE;
}
