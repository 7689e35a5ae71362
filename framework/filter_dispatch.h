// CFilterDispatchImpl: IDispatch for a filter's automation interface T (a dual
// interface with the identifier *piid), answered from the type library embedded in the
// filter's module. The type information is loaded on first use and kept.
#pragma once

#include <atomic>

#include "framework/platform/platform.h"

template <class T, const IID* piid> class CFilterDispatchImpl : public T {
public:
    ~CFilterDispatchImpl() {
        if (ITypeInfo* typeInfo = m_pTypeInfo.exchange(nullptr))
            typeInfo->Release();
    }

    STDMETHODIMP GetTypeInfoCount(UINT* pctinfo) override {
        if (pctinfo == nullptr)
            return E_POINTER;
        *pctinfo = 1;
        return S_OK;
    }

    // Only index 0: TYPE_E_ELEMENTNOTFOUND otherwise.
    STDMETHODIMP GetTypeInfo(UINT iTInfo, LCID, ITypeInfo** ppTInfo) override {
        if (ppTInfo == nullptr)
            return E_POINTER;
        *ppTInfo = nullptr;
        if (iTInfo != 0)
            return TYPE_E_ELEMENTNOTFOUND;
        ITypeInfo* typeInfo = nullptr;
        const HRESULT hr = CachedTypeInfo(&typeInfo);
        if (FAILED(hr))
            return hr;
        typeInfo->AddRef();
        *ppTInfo = typeInfo;
        return S_OK;
    }

    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* rgszNames, UINT cNames, LCID,
                               DISPID* rgDispId) override {
        ITypeInfo* typeInfo = nullptr;
        const HRESULT hr = CachedTypeInfo(&typeInfo);
        return FAILED(hr) ? hr : typeInfo->GetIDsOfNames(rgszNames, cNames, rgDispId);
    }

    // riid must be IID_NULL: DISP_E_UNKNOWNINTERFACE otherwise.
    STDMETHODIMP Invoke(DISPID dispIdMember, REFIID riid, LCID, WORD wFlags,
                        DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                        UINT* puArgErr) override {
        if (!IsEqualGUID(riid, IID_NULL))
            return DISP_E_UNKNOWNINTERFACE;
        ITypeInfo* typeInfo = nullptr;
        const HRESULT hr = CachedTypeInfo(&typeInfo);
        if (FAILED(hr))
            return hr;
        return typeInfo->Invoke(static_cast<T*>(this), dispIdMember, wFlags, pDispParams,
                                pVarResult, pExcepInfo, puArgErr);
    }

private:
    // The kept type information, not referenced for the caller. Threads that race on
    // the first use each load it; one result is kept, the others released.
    HRESULT CachedTypeInfo(ITypeInfo** ppTypeInfo) {
        *ppTypeInfo = m_pTypeInfo.load();
        if (*ppTypeInfo != nullptr)
            return S_OK;
        ITypeInfo* loaded = nullptr;
        const HRESULT hr = LoadModuleTypeInfo(*piid, &loaded);
        if (FAILED(hr))
            return hr;
        ITypeInfo* expected = nullptr;
        if (!m_pTypeInfo.compare_exchange_strong(expected, loaded)) {
            loaded->Release();
            loaded = expected;
        }
        *ppTypeInfo = loaded;
        return S_OK;
    }

    std::atomic<ITypeInfo*> m_pTypeInfo{nullptr};
};
