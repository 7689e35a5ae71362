#include "framework/enumerators.h"

#include <new>

#include "framework/base_filter.h"
#include "framework/base_pin.h"
#include "framework/media_type.h"

// CEnumPins

CEnumPins::CEnumPins(CBaseFilter* pFilter, const CEnumPins* pEnum) : m_pFilter(pFilter) {
    m_pFilter->AddRef();
    if (pEnum != nullptr) {
        m_Position = pEnum->m_Position;
        m_Version = pEnum->m_Version;
    } else {
        m_Version = m_pFilter->GetPinVersion();
    }
}

CEnumPins::~CEnumPins() {
    m_pFilter->Release();
}

STDMETHODIMP CEnumPins::QueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr)
        return E_POINTER;
    if (riid == IID_IEnumPins || riid == IID_IUnknown)
        return GetInterface(static_cast<IEnumPins*>(this), ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CEnumPins::AddRef() {
    return ++m_cRef;
}

STDMETHODIMP_(ULONG) CEnumPins::Release() {
    const ULONG count = --m_cRef;
    if (count == 0)
        delete this;
    return count;
}

bool CEnumPins::OutOfSync() const {
    return m_Version != m_pFilter->GetPinVersion();
}

STDMETHODIMP CEnumPins::Next(ULONG cPins, IPin** ppPins, ULONG* pcFetched) {
    if (ppPins == nullptr || (pcFetched == nullptr && cPins != 1))
        return E_POINTER;
    if (pcFetched != nullptr)
        *pcFetched = 0;
    if (OutOfSync())
        return VFW_E_ENUM_OUT_OF_SYNC;
    ULONG fetched = 0;
    while (fetched < cPins) {
        CBasePin* pin = m_pFilter->GetPin(m_Position);
        if (pin == nullptr)
            break;
        ++m_Position;
        ppPins[fetched] = pin;
        pin->AddRef();
        ++fetched;
    }
    if (pcFetched != nullptr)
        *pcFetched = fetched;
    return fetched == cPins ? S_OK : S_FALSE;
}

STDMETHODIMP CEnumPins::Skip(ULONG cPins) {
    if (OutOfSync())
        return VFW_E_ENUM_OUT_OF_SYNC;
    const int left = m_pFilter->GetPinCount() - m_Position;
    if (left < 0 || cPins > ULONG(left)) {
        m_Position = m_pFilter->GetPinCount();
        return S_FALSE;
    }
    m_Position += int(cPins);
    return S_OK;
}

STDMETHODIMP CEnumPins::Reset() {
    m_Version = m_pFilter->GetPinVersion();
    m_Position = 0;
    return S_OK;
}

STDMETHODIMP CEnumPins::Clone(IEnumPins** ppEnum) {
    if (ppEnum == nullptr)
        return E_POINTER;
    *ppEnum = nullptr;
    if (OutOfSync())
        return VFW_E_ENUM_OUT_OF_SYNC;
    *ppEnum = new (std::nothrow) CEnumPins(m_pFilter, this);
    if (*ppEnum == nullptr)
        return E_OUTOFMEMORY;
    (*ppEnum)->AddRef();
    return S_OK;
}

// CEnumMediaTypes

CEnumMediaTypes::CEnumMediaTypes(CBasePin* pPin, const CEnumMediaTypes* pEnum) : m_pPin(pPin) {
    m_pPin->AddRef();
    if (pEnum != nullptr) {
        m_Position = pEnum->m_Position;
        m_Version = pEnum->m_Version;
    } else {
        m_Version = m_pPin->GetMediaTypeVersion();
    }
}

CEnumMediaTypes::~CEnumMediaTypes() {
    m_pPin->Release();
}

STDMETHODIMP CEnumMediaTypes::QueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr)
        return E_POINTER;
    if (riid == IID_IEnumMediaTypes || riid == IID_IUnknown)
        return GetInterface(static_cast<IEnumMediaTypes*>(this), ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CEnumMediaTypes::AddRef() {
    return ++m_cRef;
}

STDMETHODIMP_(ULONG) CEnumMediaTypes::Release() {
    const ULONG count = --m_cRef;
    if (count == 0)
        delete this;
    return count;
}

bool CEnumMediaTypes::OutOfSync() const {
    return m_Version != m_pPin->GetMediaTypeVersion();
}

STDMETHODIMP CEnumMediaTypes::Next(ULONG cMediaTypes, AM_MEDIA_TYPE** ppMediaTypes,
                                   ULONG* pcFetched) {
    if (ppMediaTypes == nullptr || (pcFetched == nullptr && cMediaTypes != 1))
        return E_POINTER;
    if (pcFetched != nullptr)
        *pcFetched = 0;
    if (OutOfSync())
        return VFW_E_ENUM_OUT_OF_SYNC;
    ULONG fetched = 0;
    while (fetched < cMediaTypes) {
        CMediaType type;
        if (m_pPin->GetMediaType(m_Position, &type) != S_OK)
            break;
        AM_MEDIA_TYPE* copy = CreateMediaType(&type);
        if (copy == nullptr)
            break;
        ++m_Position;
        ppMediaTypes[fetched++] = copy;
    }
    if (pcFetched != nullptr)
        *pcFetched = fetched;
    return fetched == cMediaTypes ? S_OK : S_FALSE;
}

STDMETHODIMP CEnumMediaTypes::Skip(ULONG cMediaTypes) {
    if (OutOfSync())
        return VFW_E_ENUM_OUT_OF_SYNC;
    while (cMediaTypes > 0) {
        CMediaType type;
        if (m_pPin->GetMediaType(m_Position, &type) != S_OK)
            return S_FALSE;
        ++m_Position;
        --cMediaTypes;
    }
    return S_OK;
}

STDMETHODIMP CEnumMediaTypes::Reset() {
    m_Version = m_pPin->GetMediaTypeVersion();
    m_Position = 0;
    return S_OK;
}

STDMETHODIMP CEnumMediaTypes::Clone(IEnumMediaTypes** ppEnum) {
    if (ppEnum == nullptr)
        return E_POINTER;
    *ppEnum = nullptr;
    if (OutOfSync())
        return VFW_E_ENUM_OUT_OF_SYNC;
    *ppEnum = new (std::nothrow) CEnumMediaTypes(m_pPin, this);
    if (*ppEnum == nullptr)
        return E_OUTOFMEMORY;
    (*ppEnum)->AddRef();
    return S_OK;
}
