#include "framework/platform/platform.h"

#include <chrono>
#include <cstdlib>
#include <mutex>
#include <new>
#include <unistd.h>
#include <vector>


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

struct ComClass {
    CLSID clsid;
    ComClassCreator create;
};

struct ClassTable {
    std::mutex mutex;
    std::vector<ComClass> classes;
};

ClassTable& Classes() {
    static ClassTable table;
    return table;
}

} // namespace

HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD, REFIID riid, void** ppv) {
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = nullptr;
    ComClassCreator create = nullptr;
    {
        ClassTable& table = Classes();
        std::lock_guard<std::mutex> lock(table.mutex);
        for (const ComClass& entry : table.classes)
            if (entry.clsid == rclsid)
                create = entry.create;
    }
    if (create == nullptr)
        return REGDB_E_CLASSNOTREG;
    return create(pUnkOuter, riid, ppv);
}

HRESULT RegisterComClass(REFCLSID rclsid, ComClassCreator create) {
    if (create == nullptr)
        return E_POINTER;
    ClassTable& table = Classes();
    std::lock_guard<std::mutex> lock(table.mutex);
    for (ComClass& entry : table.classes) {
        if (entry.clsid == rclsid) {
            entry.create = create;
            return S_OK;
        }
    }
    try {
        table.classes.push_back(ComClass{rclsid, create});
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}
