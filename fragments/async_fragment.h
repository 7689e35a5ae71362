// CSSFAsyncFragment: a fragment downloaded on a worker thread of its own, so that the
// pin thread never blocks on the network.
//
// States: idle (Result E_FAIL, DoneEvent set, no thread) -> Start -> downloading
// (E_PENDING, DoneEvent reset) -> done (the download's result, DoneEvent set, the worker
// idle). Reset returns to idle from any state, waiting for a running download.
//
// Reference counted through CAMThread, starting at 1: a stream's fragment slot holds one
// reference, each waiter another.
#pragma once

#include <memory>

#include "fragments/fragment.h"
#include "framework/am_event.h"
#include "framework/am_thread.h"
#include "framework/critical_section.h"

class CSSFAsyncFragment : public CSSFFragment, public CAMThread {
public:
    static constexpr DWORD kCommandDownload = 0;
    static constexpr DWORD kCommandExit = 1;

    explicit CSSFAsyncFragment(const char* url, uint64_t maxBodyBytes = kHttpMinFragmentBodyLimit);
    ~CSSFAsyncFragment() override;

    // Begins a download on the worker: E_PENDING once the worker took it, E_FAIL when
    // the thread cannot be created.
    virtual HRESULT Start();
    // Ends the worker, then as CSSFFragment::Reset. A running download ends first: a
    // transfer under way is waited for, a retry delay is cut short (the download fails
    // with its last error).
    HRESULT Reset() override;
    // Waits up to timeoutMs for the download to end; Result either way.
    virtual HRESULT Wait(DWORD timeoutMs);

    // Set after DoneEvent whenever a download ends, for a waiter on several fragments;
    // assigned before Start. Shared, as the fragment may outlive that waiter.
    std::shared_ptr<CAMEvent> CompletionEvent;

protected:
    DWORD ThreadProc() override;

    CAMEvent DoneEvent;   // set whenever no download runs
    CAMEvent CancelEvent; // manual reset; set by Reset to end the download's retry delays
    CCritSec ResultLock;
    HRESULT Result = E_FAIL; // guarded by ResultLock

private:
    void SetResult(HRESULT hr);
};
