// DllRegisterServer and DllUnregisterServer: the class, the filter mapper entry, the URL
// schemes and the type library, each guarded against touching another copy's
// registration.
#include "framework/com_ptr.h"
#include "filter/kvssf_reader_interface.h"
#include "server/filter_registration.h"
#include "server/module.h"
#include "server/registry.h"
#include "framework/trace/trace.h"

namespace {

const char* const kSchemes[] = {"kvssf", "kvssfs"};

// The file that the class's InprocServer32 key names, when it exists and is not this
// module; empty otherwise (no key, no value, no file, or this module).
std::string OtherRegisteredCopy(const std::string& modulePath) {
    std::string registered;
    if (ReadDefaultValue("CLSID\\" + RegistryGuid(CLSID_KVSsfRd) + "\\InprocServer32",
                         &registered) != S_OK ||
        !FileExists(registered) || lstrcmpiA(registered.c_str(), modulePath.c_str()) == 0)
        return std::string();
    return registered;
}

// A newer copy elsewhere keeps its registration. Without version information on either
// side this copy registers.
bool NewerCopyRegistered(const std::string& modulePath) {
    const std::string other = OtherRegisteredCopy(modulePath);
    ULONGLONG otherVersion = 0, ownVersion = 0;
    return !other.empty() && FileVersion(other, &otherVersion) &&
           FileVersion(modulePath, &ownVersion) && otherVersion > ownVersion;
}

void RegisterSchemes() {
    const std::string clsid = RegistryGuid(CLSID_KVSsfRd);
    for (const char* scheme : kSchemes)
        WriteStringValue(scheme, KEY_WRITE, "Source Filter", clsid);
}

void ShowError(const std::string& text) {
    MessageBoxA(nullptr, text.c_str(), "Error", MB_OK | MB_ICONERROR);
}

void RegisterTypeLibrary(const std::string& modulePath) {
    std::wstring widePath;
    AnsiToWide(modulePath.data(), modulePath.size(), &widePath);
    ComPtr<ITypeLib> library;
    HRESULT hr = LoadTypeLib(widePath.c_str(), library.Out());
    if (FAILED(hr)) {
        KTrace("\nK_RegisterTypeLibrary: LoadTypeLib failed 0x%08x", unsigned(hr));
        ShowError("Failed " + std::string(KTraceErrorName(hr)) +
                  " to register type library: " + modulePath);
        return;
    }
    hr = RegisterTypeLib(library.Get(), const_cast<LPOLESTR>(widePath.c_str()), nullptr);
    library.Reset();
    if (FAILED(hr)) {
        KTrace("\nK_RegisterTypeLibrary: RegisterTypeLib failed 0x%08x", unsigned(hr));
        ShowError("Failed to register type library: " + modulePath);
    }
}

} // namespace

STDAPI DllRegisterServer() {
    const std::string modulePath = ModuleFileName();
    if (NewerCopyRegistered(modulePath))
        return S_OK;
    const HRESULT hr = AMovieDllRegisterServer2(TRUE);
    if (FAILED(hr))
        return hr;
    RegisterSchemes();
    RegisterTypeLibrary(modulePath);
    return S_OK;
}

STDAPI DllUnregisterServer() {
    if (!OtherRegisteredCopy(ModuleFileName()).empty())
        return S_OK;
    UnRegisterTypeLib(LIBID_KVSsfRdLib, 1, 0, 0, SYS_WIN64);
    for (const char* scheme : kSchemes)
        DeleteKeyTree(HKEY_CLASSES_ROOT, scheme);
    return AMovieDllRegisterServer2(FALSE);
}
