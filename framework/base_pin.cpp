#include "framework/base_pin.h"

#include <cstring>
#include <new>

#include "framework/enumerators.h"

CBasePin::CBasePin(LPCWSTR pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr,
                   LPCWSTR pName, PIN_DIRECTION dir)
    : CUnknown(pObjectName, nullptr, phr), m_pName(pName != nullptr ? pName : L""), m_dir(dir),
      m_pLock(pLock), m_pFilter(pFilter) {}

CBasePin::~CBasePin() = default;

STDMETHODIMP CBasePin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr)
        return E_POINTER;
    if (riid == IID_IPin)
        return GetInterface(static_cast<IPin*>(this), ppv);
    if (riid == IID_IQualityControl)
        return GetInterface(static_cast<IQualityControl*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP_(ULONG) CBasePin::NonDelegatingAddRef() {
    return m_pFilter->AddRef();
}

STDMETHODIMP_(ULONG) CBasePin::NonDelegatingRelease() {
    return m_pFilter->Release();
}

STDMETHODIMP CBasePin::Connect(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) {
    if (pReceivePin == nullptr)
        return E_POINTER;
    CAutoLock lock(m_pLock);
    if (m_Connected != nullptr)
        return VFW_E_ALREADY_CONNECTED;
    if (!IsStopped() && !m_bCanReconnectWhenActive)
        return VFW_E_NOT_STOPPED;
    PIN_DIRECTION dir;
    if (SUCCEEDED(pReceivePin->QueryDirection(&dir)) && dir == m_dir)
        return VFW_E_INVALID_DIRECTION;
    HRESULT hr = S_OK;
    const CMediaType proposed = pmt != nullptr ? CMediaType(*pmt, &hr) : CMediaType();
    if (FAILED(hr))
        return hr;
    return AgreeMediaType(pReceivePin, pmt != nullptr ? &proposed : nullptr);
}

HRESULT CBasePin::AgreeMediaType(IPin* pReceivePin, const CMediaType* pmt) {
    if (pmt != nullptr && !pmt->IsPartiallySpecified())
        return AttemptConnection(pReceivePin, pmt);

    HRESULT hrLast = VFW_E_NO_ACCEPTABLE_TYPES;
    for (int pass = 0; pass < 2; ++pass) {
        const bool mine = (pass == 0) == m_bTryMyTypesFirst;
        ComPtr<IEnumMediaTypes> pEnum;
        const HRESULT hrEnum =
            mine ? EnumMediaTypes(pEnum.Out()) : pReceivePin->EnumMediaTypes(pEnum.Out());
        if (FAILED(hrEnum) || !pEnum)
            continue;
        const HRESULT hr = TryMediaTypes(pReceivePin, pmt, pEnum.Get());
        if (SUCCEEDED(hr))
            return S_OK;
        if (hr != VFW_E_NO_ACCEPTABLE_TYPES)
            hrLast = hr;
    }
    return hrLast;
}

// The last failure among the candidates tried, or VFW_E_NO_ACCEPTABLE_TYPES when none
// qualified.
HRESULT CBasePin::TryMediaTypes(IPin* pReceivePin, const CMediaType* pmt, IEnumMediaTypes* pEnum) {
    HRESULT hrLast = VFW_E_NO_ACCEPTABLE_TYPES;
    for (;;) {
        AM_MEDIA_TYPE* candidate = nullptr;
        ULONG fetched = 0;
        if (pEnum->Next(1, &candidate, &fetched) != S_OK || fetched != 1)
            return hrLast;
        HRESULT hr = S_OK;
        const CMediaType type(*candidate, &hr);
        DeleteMediaType(candidate);
        if (FAILED(hr))
            return hr;
        if (pmt != nullptr && !type.MatchesPartial(pmt))
            continue;
        hr = AttemptConnection(pReceivePin, &type);
        if (SUCCEEDED(hr))
            return S_OK;
        hrLast = hr;
    }
}

HRESULT CBasePin::AttemptConnection(IPin* pReceivePin, const CMediaType* pmt) {
    HRESULT hr = CheckConnect(pReceivePin);
    if (FAILED(hr)) {
        BreakConnect();
        return hr;
    }
    hr = CheckMediaType(pmt);
    if (hr != S_OK) {
        BreakConnect();
        return FAILED(hr) ? hr : VFW_E_TYPE_NOT_ACCEPTED;
    }
    hr = SetMediaType(pmt);
    if (FAILED(hr)) {
        BreakConnect();
        return hr;
    }
    m_Connected = pReceivePin;
    hr = pReceivePin->ReceiveConnection(static_cast<IPin*>(this), pmt);
    if (SUCCEEDED(hr)) {
        hr = CompleteConnect(pReceivePin);
        if (SUCCEEDED(hr))
            return S_OK;
        pReceivePin->Disconnect();
    }
    BreakConnect();
    m_Connected.Reset();
    m_mt.InitMediaType();
    return hr;
}

STDMETHODIMP CBasePin::ReceiveConnection(IPin* pConnector, const AM_MEDIA_TYPE* pmt) {
    if (pConnector == nullptr || pmt == nullptr)
        return E_POINTER;
    CAutoLock lock(m_pLock);
    if (m_Connected != nullptr)
        return VFW_E_ALREADY_CONNECTED;
    if (!IsStopped() && !m_bCanReconnectWhenActive)
        return VFW_E_NOT_STOPPED;
    HRESULT hr = CheckConnect(pConnector);
    if (FAILED(hr)) {
        BreakConnect();
        return hr;
    }
    const CMediaType type(*pmt, &hr);
    if (FAILED(hr)) {
        BreakConnect();
        return hr;
    }
    hr = CheckMediaType(&type);
    if (hr != S_OK) {
        BreakConnect();
        return FAILED(hr) ? hr : VFW_E_TYPE_NOT_ACCEPTED;
    }
    hr = SetMediaType(&type);
    if (SUCCEEDED(hr)) {
        m_Connected = pConnector;
        hr = CompleteConnect(pConnector);
        if (SUCCEEDED(hr))
            return S_OK;
        m_Connected.Reset();
    }
    BreakConnect();
    m_mt.InitMediaType();
    return hr;
}

STDMETHODIMP CBasePin::Disconnect() {
    CAutoLock lock(m_pLock);
    if (!IsStopped())
        return VFW_E_NOT_STOPPED;
    if (m_Connected == nullptr)
        return S_FALSE;
    DisconnectLocked();
    return S_OK;
}

void CBasePin::DisconnectLocked() {
    BreakConnect();
    m_Connected.Reset();
    m_mt.InitMediaType();
}

STDMETHODIMP CBasePin::ConnectedTo(IPin** pPin) {
    if (pPin == nullptr)
        return E_POINTER;
    CAutoLock lock(m_pLock);
    m_Connected.CopyTo(pPin);
    return m_Connected ? S_OK : VFW_E_NOT_CONNECTED;
}

STDMETHODIMP CBasePin::ConnectionMediaType(AM_MEDIA_TYPE* pmt) {
    if (pmt == nullptr)
        return E_POINTER;
    CAutoLock lock(m_pLock);
    if (m_Connected == nullptr) {
        std::memset(pmt, 0, sizeof(*pmt));
        return VFW_E_NOT_CONNECTED;
    }
    return CopyMediaType(pmt, &m_mt);
}

STDMETHODIMP CBasePin::QueryPinInfo(PIN_INFO* pInfo) {
    if (pInfo == nullptr)
        return E_POINTER;
    pInfo->pFilter = m_pFilter;
    m_pFilter->AddRef();
    const size_t length = m_pName.size() < MAX_PIN_NAME - 1 ? m_pName.size() : MAX_PIN_NAME - 1;
    m_pName.copy(pInfo->achName, length);
    pInfo->achName[length] = 0;
    pInfo->dir = m_dir;
    return S_OK;
}

STDMETHODIMP CBasePin::QueryDirection(PIN_DIRECTION* pPinDir) {
    if (pPinDir == nullptr)
        return E_POINTER;
    *pPinDir = m_dir;
    return S_OK;
}

STDMETHODIMP CBasePin::QueryId(LPWSTR* Id) {
    if (Id == nullptr)
        return E_POINTER;
    const size_t bytes = (m_pName.size() + 1) * sizeof(WCHAR);
    *Id = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    if (*Id == nullptr)
        return E_OUTOFMEMORY;
    std::memcpy(*Id, m_pName.c_str(), bytes);
    return S_OK;
}

STDMETHODIMP CBasePin::QueryAccept(const AM_MEDIA_TYPE* pmt) {
    if (pmt == nullptr)
        return E_POINTER;
    HRESULT hr = S_OK;
    const CMediaType type(*pmt, &hr);
    if (FAILED(hr))
        return hr;
    return CheckMediaType(&type) == S_OK ? S_OK : S_FALSE;
}

STDMETHODIMP CBasePin::EnumMediaTypes(IEnumMediaTypes** ppEnum) {
    if (ppEnum == nullptr)
        return E_POINTER;
    *ppEnum = new (std::nothrow) CEnumMediaTypes(this);
    if (*ppEnum == nullptr)
        return E_OUTOFMEMORY;
    (*ppEnum)->AddRef();
    return S_OK;
}

STDMETHODIMP CBasePin::QueryInternalConnections(IPin**, ULONG*) {
    return E_NOTIMPL;
}

STDMETHODIMP CBasePin::EndOfStream() {
    return S_OK;
}

STDMETHODIMP CBasePin::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) {
    m_tStart = tStart;
    m_tStop = tStop;
    m_dRate = dRate;
    return S_OK;
}

STDMETHODIMP CBasePin::Notify(IBaseFilter* pSelf, Quality q) {
    IQualityControl* sink = nullptr;
    {
        CAutoLock lock(m_pLock);
        sink = m_pQSink;
    }
    return sink != nullptr ? sink->Notify(pSelf, q) : E_NOTIMPL;
}

STDMETHODIMP CBasePin::SetSink(IQualityControl* piqc) {
    CAutoLock lock(m_pLock);
    m_pQSink = piqc;
    return S_OK;
}

HRESULT CBasePin::SetMediaType(const CMediaType* pmt) {
    return m_mt.Set(*pmt);
}

HRESULT CBasePin::CheckConnect(IPin* pPin) {
    PIN_DIRECTION dir;
    const HRESULT hr = pPin->QueryDirection(&dir);
    if (FAILED(hr))
        return hr;
    return dir == m_dir ? VFW_E_INVALID_DIRECTION : S_OK;
}

HRESULT CBasePin::BreakConnect() {
    return S_OK;
}

HRESULT CBasePin::CompleteConnect(IPin*) {
    return S_OK;
}

HRESULT CBasePin::GetMediaType(int, CMediaType*) {
    return E_UNEXPECTED;
}

HRESULT CBasePin::Active() {
    return S_OK;
}

HRESULT CBasePin::Inactive() {
    m_bRunTimeError = false;
    return S_OK;
}

HRESULT CBasePin::Run(REFERENCE_TIME) {
    return S_OK;
}
