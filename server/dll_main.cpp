// The module's entry point and its class-object entry points.
#include <new>

#include "server/class_factory.h"
#include "server/module.h"
#include "framework/trace/trace.h"

HINSTANCE g_hInst = nullptr;

namespace {

OSVERSIONINFOA g_osInfo; // read at load

void InitTemplates(BOOL bLoading) {
    for (int i = 0; i < g_cTemplates; ++i) {
        if (g_Templates[i].m_lpfnInit != nullptr)
            g_Templates[i].m_lpfnInit(bLoading, g_Templates[i].m_ClsID);
    }
}

} // namespace

std::string ModuleFileName() {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(g_hInst, path, MAX_PATH);
    return length == 0 || length >= MAX_PATH ? std::string() : std::string(path, length);
}

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID) {
    switch (dwReason) {
    case DLL_PROCESS_ATTACH:
        DisableThreadLibraryCalls(hInstance);
        g_hInst = hInstance;
        g_osInfo.dwOSVersionInfoSize = sizeof g_osInfo;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
        GetVersionExA(&g_osInfo);
#pragma GCC diagnostic pop
        InitTemplates(TRUE);
        break;
    case DLL_PROCESS_DETACH:
        InitTemplates(FALSE);
        break;
    default:
        break;
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = nullptr;
    if (riid != IID_IUnknown && riid != IID_IClassFactory)
        return E_NOINTERFACE;
    for (int i = 0; i < g_cTemplates; ++i) {
        if (!g_Templates[i].IsClassID(rclsid))
            continue;
        auto* factory = new (std::nothrow) CClassFactory(&g_Templates[i]);
        if (factory == nullptr)
            return E_OUTOFMEMORY;
        factory->AddRef();
        *ppv = static_cast<IClassFactory*>(factory);
        return S_OK;
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllCanUnloadNow() {
    if (CClassFactory::IsLocked() || CBaseObject::ObjectsActive() > 0)
        return S_FALSE;
    KTraceRelease();
    return S_OK;
}
