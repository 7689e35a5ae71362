#include "framework/unknown.h"

std::atomic<LONG> CBaseObject::m_cObjects{0};

CBaseObject::CBaseObject(LPCWSTR pName) : m_pName(pName) {
    ++m_cObjects;
}

CBaseObject::~CBaseObject() {
    --m_cObjects;
}

LONG CBaseObject::ObjectsActive() {
    return m_cObjects.load();
}

CUnknown::CUnknown(LPCWSTR pName, LPUNKNOWN pUnk, HRESULT*)
    : CBaseObject(pName), m_inner(this), m_pUnknown(pUnk != nullptr ? pUnk : &m_inner) {}

CUnknown::~CUnknown() = default;

STDMETHODIMP CUnknown::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr)
        return E_POINTER;
    if (riid == IID_IUnknown)
        return GetInterface(&m_inner, ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CUnknown::NonDelegatingAddRef() {
    return ULONG(++m_cRef);
}

STDMETHODIMP_(ULONG) CUnknown::NonDelegatingRelease() {
    const LONG count = --m_cRef;
    if (count == 0) {
        // A reference taken and dropped by the destructor must not delete us again.
        m_cRef = 1;
        delete this;
        return 0;
    }
    return ULONG(count);
}

HRESULT GetInterface(LPUNKNOWN pUnk, void** ppv) {
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = pUnk;
    pUnk->AddRef();
    return S_OK;
}
