#include "tests/server/com_server_module.h"

#include <vector>

namespace {

template <typename F> void Bind(HMODULE module, const char* name, F* function) {
    *function = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

} // namespace

std::string BesideProgram(const char* file) {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path, length);
    return folder.substr(0, folder.find_last_of('\\') + 1) + file;
}

ComServerModule::ComServerModule(const std::string& path) : m_module(LoadLibraryA(path.c_str())) {
    if (m_module == nullptr)
        return;
    Bind(m_module, "DllGetClassObject", &m_getClassObject);
    Bind(m_module, "DllCanUnloadNow", &m_canUnloadNow);
    Bind(m_module, "DllRegisterServer", &m_registerServer);
    Bind(m_module, "DllUnregisterServer", &m_unregisterServer);
    if (!m_getClassObject || !m_canUnloadNow || !m_registerServer || !m_unregisterServer) {
        FreeLibrary(m_module);
        m_module = nullptr;
    }
}

ComServerModule::~ComServerModule() {
    if (m_module != nullptr)
        FreeLibrary(m_module);
}

HRESULT ComServerModule::GetClassObject(REFCLSID clsid, REFIID riid, void** ppv) const {
    return m_getClassObject(clsid, riid, ppv);
}
HRESULT ComServerModule::CanUnloadNow() const {
    return m_canUnloadNow();
}
HRESULT ComServerModule::RegisterServer() const {
    return m_registerServer();
}
HRESULT ComServerModule::UnregisterServer() const {
    return m_unregisterServer();
}

int RunRegsvr32(const std::string& path, bool unregister) {
    std::string command =
        std::string("regsvr32.exe /s ") + (unregister ? "/u " : "") + "\"" + path + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return -1;
    WaitForSingleObject(process.hProcess, 60000);
    DWORD code = DWORD(-1);
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return int(code);
}

bool KeyExists(const std::string& key) {
    HKEY handle = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return false;
    RegCloseKey(handle);
    return true;
}

std::string StringValue(const std::string& key, const char* name) {
    char data[1024];
    DWORD size = sizeof data;
    if (RegGetValueA(HKEY_CLASSES_ROOT, key.c_str(), name, RRF_RT_REG_SZ, nullptr, data, &size) !=
        ERROR_SUCCESS)
        return "<absent>";
    return data;
}

bool CountEntries(const std::string& key, DWORD* values, DWORD* subkeys) {
    HKEY handle = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return false;
    const LONG status = RegQueryInfoKeyA(handle, nullptr, nullptr, nullptr, subkeys, nullptr,
                                         nullptr, values, nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(handle);
    return status == ERROR_SUCCESS;
}

void RemoveKey(const std::string& key) {
    RegDeleteTreeA(HKEY_CLASSES_ROOT, key.c_str());
    RegDeleteKeyA(HKEY_CLASSES_ROOT, key.c_str());
}

void SetStringValue(const std::string& key, const char* name, const std::string& value) {
    HKEY handle = nullptr;
    if (RegCreateKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &handle,
                        nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExA(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   DWORD(value.size() + 1));
    RegCloseKey(handle);
}
