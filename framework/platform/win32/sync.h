// Locks, events and threads over Win32.
#pragma once

#include "framework/platform/win32/sdk.h"

class CPlatformMutex {
public:
    CPlatformMutex() { InitializeCriticalSection(&m_section); }
    ~CPlatformMutex() { DeleteCriticalSection(&m_section); }
    void Lock() { EnterCriticalSection(&m_section); }
    void Unlock() { LeaveCriticalSection(&m_section); }

private:
    CPlatformMutex(const CPlatformMutex&) = delete;
    CPlatformMutex& operator=(const CPlatformMutex&) = delete;

    CRITICAL_SECTION m_section;
};

class CPlatformEvent {
public:
    explicit CPlatformEvent(bool manualReset)
        : m_event(CreateEventW(nullptr, manualReset, FALSE, nullptr)) {}
    ~CPlatformEvent() {
        if (m_event)
            CloseHandle(m_event);
    }

    bool Valid() const { return m_event != nullptr; }
    void Set() { SetEvent(m_event); }
    void Reset() { ResetEvent(m_event); }
    bool Wait(DWORD timeoutMs) { return WaitForSingleObject(m_event, timeoutMs) == WAIT_OBJECT_0; }

private:
    CPlatformEvent(const CPlatformEvent&) = delete;
    CPlatformEvent& operator=(const CPlatformEvent&) = delete;

    HANDLE m_event;
};

typedef DWORD (*PlatformThreadProc)(void* argument);

inline DWORD CurrentThreadId() {
    return GetCurrentThreadId();
}

class CPlatformThread {
public:
    CPlatformThread() = default;
    ~CPlatformThread() { Join(); }

    bool Start(PlatformThreadProc proc, void* argument);
    bool Exists() const { return m_handle != nullptr; }
    bool IsCurrent() const { return m_handle != nullptr && m_id == GetCurrentThreadId(); }
    void Join();

private:
    CPlatformThread(const CPlatformThread&) = delete;
    CPlatformThread& operator=(const CPlatformThread&) = delete;

    HANDLE m_handle = nullptr;
    DWORD m_id = 0;
};

HRESULT InitializeThreadCom();
void UninitializeThreadCom();
