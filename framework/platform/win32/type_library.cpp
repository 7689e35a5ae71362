#include "framework/platform/platform.h"

namespace {

// The module (DLL or program) that this code was linked into.
HMODULE ThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&LoadModuleTypeInfo), &module);
    return module;
}

} // namespace

HRESULT LoadModuleTypeInfo(REFIID riid, ITypeInfo** ppTypeInfo) {
    *ppTypeInfo = nullptr;
    char path[MAX_PATH];
    if (GetModuleFileNameA(ThisModule(), path, MAX_PATH) == 0)
        return HRESULT_FROM_WIN32(GetLastError());
    WCHAR widePath[MAX_PATH];
    if (MultiByteToWideChar(CP_ACP, 0, path, -1, widePath, MAX_PATH) == 0)
        return HRESULT_FROM_WIN32(GetLastError());
    ITypeLib* library = nullptr;
    HRESULT hr = LoadTypeLib(widePath, &library);
    if (FAILED(hr))
        return hr;
    hr = library->GetTypeInfoOfGuid(riid, ppTypeInfo);
    library->Release();
    return hr;
}
