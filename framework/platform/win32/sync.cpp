#include "framework/platform/sync.h"

#include <new>
#include <utility>

namespace {

DWORD WINAPI ThreadEntry(void* parameter) {
    auto* start = static_cast<std::pair<PlatformThreadProc, void*>*>(parameter);
    const std::pair<PlatformThreadProc, void*> copy = *start;
    delete start;
    return copy.first(copy.second);
}

} // namespace

bool CPlatformThread::Start(PlatformThreadProc proc, void* argument) {
    if (m_handle != nullptr)
        return false;
    auto* start = new (std::nothrow) std::pair<PlatformThreadProc, void*>(proc, argument);
    if (start == nullptr)
        return false;
    m_handle = CreateThread(nullptr, 0, ThreadEntry, start, 0, &m_id);
    if (m_handle == nullptr) {
        delete start;
        return false;
    }
    return true;
}

void CPlatformThread::Join() {
    if (m_handle == nullptr)
        return;
    if (m_id != GetCurrentThreadId())
        WaitForSingleObject(m_handle, INFINITE);
    CloseHandle(m_handle);
    m_handle = nullptr;
    m_id = 0;
}

// Looked up at run time so that a thread still runs where ole32 is missing.
HRESULT InitializeThreadCom() {
    typedef HRESULT(WINAPI * InitializeFn)(void*, DWORD);
    HMODULE ole32 = LoadLibraryA("ole32.dll");
    if (ole32 == nullptr)
        return E_FAIL;
    auto initialize = reinterpret_cast<InitializeFn>(
        reinterpret_cast<void*>(GetProcAddress(ole32, "CoInitializeEx")));
    const HRESULT hr = initialize ? initialize(nullptr, COINIT_DISABLE_OLE1DDE) : E_FAIL;
    if (FAILED(hr))
        FreeLibrary(ole32);
    return hr;
}

// Pairs a successful InitializeThreadCom, which left ole32 loaded.
void UninitializeThreadCom() {
    typedef void(WINAPI * UninitializeFn)();
    HMODULE ole32 = GetModuleHandleA("ole32.dll");
    if (ole32 == nullptr)
        return;
    auto uninitialize = reinterpret_cast<UninitializeFn>(
        reinterpret_cast<void*>(GetProcAddress(ole32, "CoUninitialize")));
    if (uninitialize)
        uninitialize();
    FreeLibrary(ole32);
}
