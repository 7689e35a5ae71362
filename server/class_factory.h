// The module's classes: one factory template per class, and the class factory that
// DllGetClassObject hands out for a template.
#pragma once

#include <atomic>

#include "framework/base_filter.h"
#include "framework/unknown.h"
#include "framework/platform/unknown_impl.h"

typedef CUnknown* (*LPFNNewCOMObject)(LPUNKNOWN pUnkOuter, HRESULT* phr);
typedef void (*LPFNInitRoutine)(BOOL bLoading, const CLSID* rclsid);

struct CFactoryTemplate {
    LPCWSTR m_Name;
    const CLSID* m_ClsID;
    LPFNNewCOMObject m_lpfnNew;
    LPFNInitRoutine m_lpfnInit;                      // or null
    const AMOVIESETUP_FILTER* m_pAMovieSetup_Filter; // or null: not in the filter mapper

    bool IsClassID(REFCLSID rclsid) const { return IsEqualGUID(*m_ClsID, rclsid); }
};

// The module's table (factory_templates.cpp).
extern const CFactoryTemplate g_Templates[];
extern const int g_cTemplates;

// Counts itself among the framework's live objects while it exists, so that
// DllCanUnloadNow answers S_FALSE while any factory lives.
class CClassFactory final : public CUnknownImpl<ComInterface<IClassFactory, IID_IClassFactory>>,
                            public CBaseObject {
public:
    explicit CClassFactory(const CFactoryTemplate* pTemplate);

    // With an outer object only IID_IUnknown can be asked for (E_NOINTERFACE).
    STDMETHODIMP CreateInstance(LPUNKNOWN pUnkOuter, REFIID riid, void** ppv) override;
    STDMETHODIMP LockServer(BOOL fLock) override;

    // LockServer's count is above 0.
    static bool IsLocked() { return m_cLocked > 0; }

private:
    const CFactoryTemplate* const m_pTemplate; // not owned
    static std::atomic<LONG> m_cLocked;
};
