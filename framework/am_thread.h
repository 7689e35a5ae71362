// CAMThread: one worker thread and one command channel to it, plus a reference count
// for derived objects shared by reference.
//
// The owner posts a command with CallWorker and blocks until the worker answers it
// with Reply; the worker takes commands with GetRequest or CheckRequest. An exception
// thrown by ThreadProc ends the worker, not the process: a caller waiting for a reply
// gets the exception's HRESULT (E_OUTOFMEMORY when memory ran out, else E_UNEXPECTED),
// later callers E_FAIL.
#pragma once

#include <atomic>

#include "framework/am_event.h"
#include "framework/critical_section.h"
#include "framework/platform/sync.h"

class CAMThread {
public:
    explicit CAMThread(HRESULT* phr = nullptr);
    virtual ~CAMThread();

    // Starts the worker running ThreadProc. FALSE when a worker exists already or the
    // thread cannot be created.
    BOOL Create();
    // Posts command and returns the worker's reply; E_FAIL without a worker or after it
    // ended by an exception.
    DWORD CallWorker(DWORD command);
    // Waits for the end of the worker, unless called on the worker itself.
    void Close();
    BOOL ThreadExists() const;
    // TRUE on the worker itself.
    BOOL IsWorkerThread() const;

    // Worker side: waits for a command.
    DWORD GetRequest();
    // Worker side: TRUE with the command when one is waiting within timeoutMs (0: no
    // wait); the command stays pending until Reply.
    BOOL CheckRequest(DWORD* command, DWORD timeoutMs = 0);
    // Worker side: completes the pending command.
    void Reply(DWORD value);

    // Atomic; Release deletes the object when the count reaches zero.
    ULONG AddRef();
    ULONG Release();

    // Identifier of the worker once it runs; 0 before.
    DWORD ThreadId() const { return m_threadId.load(); }

protected:
    virtual DWORD ThreadProc() = 0;

    CCritSec m_AccessLock; // serialises callers of CallWorker
    CCritSec m_WorkerLock; // for the worker's own state

private:
    CAMThread(const CAMThread&) = delete;
    CAMThread& operator=(const CAMThread&) = delete;

    static DWORD InitialThreadProc(void* argument);
    // On the worker, once ThreadProc threw: answers the command a caller waits for.
    void EndByException(HRESULT hr);

    CAMEvent m_EventSend;     // manual reset: a command is pending
    CAMEvent m_EventComplete; // auto reset: the pending command was answered
    DWORD m_dwParam = 0;      // the pending command
    DWORD m_dwReturnVal = 0;  // the worker's reply
    CPlatformThread m_thread;
    std::atomic<DWORD> m_threadId{0};
    std::atomic<bool> m_bEndedByException{false}; // set before the last reply
    std::atomic<ULONG> m_cRef{1};
};
