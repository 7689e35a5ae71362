#include "framework/am_thread.h"

#include "framework/catch_out_of_memory.h"

CAMThread::CAMThread(HRESULT* phr) : m_EventSend(TRUE, phr), m_EventComplete(FALSE, phr) {}

CAMThread::~CAMThread() {
    Close();
}

// Every worker runs in the multithreaded apartment.
DWORD CAMThread::InitialThreadProc(void* argument) {
    auto* thread = static_cast<CAMThread*>(argument);
    const HRESULT hrCom = InitializeThreadCom();
    thread->m_threadId = CurrentThreadId();
    DWORD result = 0;
    HRESULT hr = S_OK;
    try {
        hr = CatchOutOfMemory([&] {
            result = thread->ThreadProc();
            return S_OK;
        });
    } catch (...) {
        hr = E_UNEXPECTED;
    }
    if (FAILED(hr)) {
        thread->EndByException(hr);
        result = DWORD(hr);
    }
    if (SUCCEEDED(hrCom))
        UninitializeThreadCom();
    return result;
}

void CAMThread::EndByException(HRESULT hr) {
    m_bEndedByException = true;
    // A caller already waiting takes this reply; one that comes later finds the flag (it
    // clears a reply nobody waited for before it looks).
    m_dwReturnVal = DWORD(hr);
    m_EventComplete.Set();
}

BOOL CAMThread::Create() {
    CAutoLock lock(&m_AccessLock);
    if (m_thread.Exists())
        return FALSE;
    m_threadId = 0;
    // A worker that ended by an exception may have left a command unanswered.
    m_bEndedByException = false;
    m_EventSend.Reset();
    // Starting a thread allocates.
    const HRESULT hr = CatchOutOfMemory(
        [this] { return m_thread.Start(InitialThreadProc, this) ? S_OK : E_FAIL; });
    return SUCCEEDED(hr) ? TRUE : FALSE;
}

DWORD CAMThread::CallWorker(DWORD command) {
    CAutoLock lock(&m_AccessLock);
    if (!m_thread.Exists())
        return DWORD(E_FAIL);
    // A reply nobody waited for must not be taken for the answer to this command.
    m_EventComplete.Check();
    if (m_bEndedByException)
        return DWORD(E_FAIL);
    m_dwParam = command;
    m_EventSend.Set();
    m_EventComplete.Wait();
    return m_dwReturnVal;
}

void CAMThread::Close() {
    m_thread.Join();
}

BOOL CAMThread::ThreadExists() const {
    return m_thread.Exists() ? TRUE : FALSE;
}

BOOL CAMThread::IsWorkerThread() const {
    return m_thread.IsCurrent() ? TRUE : FALSE;
}

DWORD CAMThread::GetRequest() {
    m_EventSend.Wait();
    return m_dwParam;
}

BOOL CAMThread::CheckRequest(DWORD* command, DWORD timeoutMs) {
    if (!m_EventSend.Wait(timeoutMs))
        return FALSE;
    if (command != nullptr)
        *command = m_dwParam;
    return TRUE;
}

void CAMThread::Reply(DWORD value) {
    m_dwReturnVal = value;
    m_EventSend.Reset();
    m_EventComplete.Set();
}

ULONG CAMThread::AddRef() {
    return ++m_cRef;
}

ULONG CAMThread::Release() {
    const ULONG count = --m_cRef;
    if (count == 0)
        delete this;
    return count;
}
