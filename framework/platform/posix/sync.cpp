#include "framework/platform/sync.h"

#include <chrono>
#include <functional>
#include <system_error>

#include "framework/platform/posix/com_runtime.h"
#include "framework/platform/posix/hresults.h"

void CPlatformEvent::Set() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_signalled = true;
    if (m_manualReset)
        m_changed.notify_all();
    else
        m_changed.notify_one();
}

void CPlatformEvent::Reset() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_signalled = false;
}

bool CPlatformEvent::Wait(DWORD timeoutMs) {
    std::unique_lock<std::mutex> lock(m_mutex);
    auto signalled = [this] { return m_signalled; };
    // A poll must not reach the condition variable: even an expired wait enters the
    // kernel and gives up the processor.
    if (timeoutMs == 0) {
        if (!m_signalled)
            return false;
    } else if (timeoutMs == INFINITE) {
        m_changed.wait(lock, signalled);
    } else if (!m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), signalled)) {
        return false;
    }
    if (!m_manualReset)
        m_signalled = false;
    return true;
}

DWORD CurrentThreadId() {
    return DWORD(std::hash<std::thread::id>()(std::this_thread::get_id()));
}

bool CPlatformThread::Start(PlatformThreadProc proc, void* argument) {
    if (m_thread.joinable())
        return false;
    try {
        m_thread = std::thread(proc, argument);
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void CPlatformThread::Join() {
    if (!m_thread.joinable())
        return;
    if (IsCurrent())
        m_thread.detach();
    else
        m_thread.join();
}

HRESULT InitializeThreadCom() {
    return CoInitializeEx(nullptr, COINIT_DISABLE_OLE1DDE);
}

void UninitializeThreadCom() {
    CoUninitialize();
}
