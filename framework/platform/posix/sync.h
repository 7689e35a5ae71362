// Locks, events and threads over the C++ standard library.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

#include "framework/platform/posix/com_types.h"

#ifndef INFINITE
#define INFINITE 0xFFFFFFFFu
#endif

class CPlatformMutex {
public:
    void Lock() { m_mutex.lock(); }
    void Unlock() { m_mutex.unlock(); }

private:
    std::recursive_mutex m_mutex;
};

class CPlatformEvent {
public:
    explicit CPlatformEvent(bool manualReset) : m_manualReset(manualReset) {}

    bool Valid() const { return true; }
    void Set();
    void Reset();
    // True when signalled within timeoutMs (INFINITE: no limit); an auto-reset event
    // is consumed by the wait that sees it.
    bool Wait(DWORD timeoutMs);

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_signalled = false; // guarded by m_mutex
    const bool m_manualReset;
};

typedef DWORD (*PlatformThreadProc)(void* argument);

DWORD CurrentThreadId();

class CPlatformThread {
public:
    CPlatformThread() = default;
    ~CPlatformThread() { Join(); }

    bool Start(PlatformThreadProc proc, void* argument);
    bool Exists() const { return m_thread.joinable(); }
    bool IsCurrent() const { return m_thread.get_id() == std::this_thread::get_id(); }
    void Join();

private:
    CPlatformThread(const CPlatformThread&) = delete;
    CPlatformThread& operator=(const CPlatformThread&) = delete;

    std::thread m_thread;
};

HRESULT InitializeThreadCom();
void UninitializeThreadCom();
