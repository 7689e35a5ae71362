#include "server/class_factory.h"

std::atomic<LONG> CClassFactory::m_cLocked{0};

CClassFactory::CClassFactory(const CFactoryTemplate* pTemplate)
    : CBaseObject(L"class factory"), m_pTemplate(pTemplate) {}

STDMETHODIMP CClassFactory::CreateInstance(LPUNKNOWN pUnkOuter, REFIID riid, void** ppv) {
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = nullptr;
    // An aggregated object hands out its non-delegating IUnknown, nothing else.
    if (pUnkOuter != nullptr && riid != IID_IUnknown)
        return E_NOINTERFACE;
    HRESULT hr = S_OK;
    CUnknown* object = m_pTemplate->m_lpfnNew(pUnkOuter, &hr);
    if (object == nullptr)
        return FAILED(hr) ? hr : E_OUTOFMEMORY;
    if (FAILED(hr)) {
        delete object;
        return hr;
    }
    // The query's reference keeps the object; the bracket frees it when the query fails.
    object->NonDelegatingAddRef();
    hr = object->NonDelegatingQueryInterface(riid, ppv);
    object->NonDelegatingRelease();
    return hr;
}

STDMETHODIMP CClassFactory::LockServer(BOOL fLock) {
    if (fLock)
        ++m_cLocked;
    else
        --m_cLocked;
    return S_OK;
}
