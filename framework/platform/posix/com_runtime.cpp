#include "framework/platform/platform.h"

#include <chrono>
#include <cstdlib>
#include <unistd.h>

#include "framework/platform/posix/registry_table.h"

void* CoTaskMemAlloc(size_t cb) {
    return std::malloc(cb ? cb : 1);
}

void CoTaskMemFree(void* pv) {
    std::free(pv);
}

HRESULT CoInitializeEx(void*, DWORD) {
    return S_OK;
}

void CoUninitialize() {}

BOOL DeleteFileA(const char* path) {
    return path && unlink(path) == 0;
}

DWORD GetTickCount() {
    const auto elapsed = std::chrono::steady_clock::now().time_since_epoch();
    return DWORD(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

namespace {

CRegistryTable<CLSID, ComClassCreator>& Classes() {
    static CRegistryTable<CLSID, ComClassCreator> table;
    return table;
}

} // namespace

HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD, REFIID riid, void** ppv) {
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = nullptr;
    ComClassCreator create = nullptr;
    if (!Classes().Find(rclsid, &create))
        return REGDB_E_CLASSNOTREG;
    return create(pUnkOuter, riid, ppv);
}

HRESULT RegisterComClass(REFCLSID rclsid, ComClassCreator create) {
    if (create == nullptr)
        return E_POINTER;
    return Classes().Set(rclsid, create);
}
