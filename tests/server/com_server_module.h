// The COM server DLLs next to the test program, loaded by path, and the registry view
// that registration is checked in.
#pragma once

#include <string>

#include "framework/platform/platform.h"

// "<folder of this program>\<file>".
std::string BesideProgram(const char* file);

// The four entry points of one loaded copy of the DLL.
class ComServerModule {
public:
    explicit ComServerModule(const std::string& path);
    ~ComServerModule();

    bool Loaded() const { return m_module != nullptr; }
    HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** ppv) const;
    HRESULT CanUnloadNow() const;
    HRESULT RegisterServer() const;
    HRESULT UnregisterServer() const;

private:
    HMODULE m_module;
    HRESULT(STDAPICALLTYPE* m_getClassObject)(REFCLSID, REFIID, void**) = nullptr;
    HRESULT(STDAPICALLTYPE* m_canUnloadNow)() = nullptr;
    HRESULT(STDAPICALLTYPE* m_registerServer)() = nullptr;
    HRESULT(STDAPICALLTYPE* m_unregisterServer)() = nullptr;
};

// Runs "regsvr32 /s [/u] path" and returns its exit code (-1 when it cannot start).
int RunRegsvr32(const std::string& path, bool unregister);

// Under HKEY_CLASSES_ROOT.
bool KeyExists(const std::string& key);
// The REG_SZ value (null name: default); "<absent>" when there is none.
std::string StringValue(const std::string& key, const char* name);
// Number of values and of subkeys of a key; false when it cannot be opened.
bool CountEntries(const std::string& key, DWORD* values, DWORD* subkeys);
// Deletes a key with its subkeys.
void RemoveKey(const std::string& key);
void SetStringValue(const std::string& key, const char* name, const std::string& value);
