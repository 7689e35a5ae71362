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

#include "fragments/fragment.h"
#include "framework/am_event.h"
#include "framework/am_thread.h"
#include "framework/critical_section.h"

class CSSFAsyncFragment : public CSSFFragment, public CAMThread {
public:
    static constexpr DWORD kCommandDownload = 0;
    static constexpr DWORD kCommandExit = 1;

    explicit CSSFAsyncFragment(const char* url);
    ~CSSFAsyncFragment() override;

    // Begins a download on the worker: E_PENDING once the worker took it, E_FAIL when
    // the thread cannot be created.
    virtual HRESULT Start();
    // Ends the worker (after a running download), then as CSSFFragment::Reset.
    HRESULT Reset() override;
    // Waits up to timeoutMs for the download to end; Result either way.
    virtual HRESULT Wait(DWORD timeoutMs);

protected:
    DWORD ThreadProc() override;

    CAMEvent DoneEvent; // set whenever no download runs
    CCritSec ResultLock;
    HRESULT Result = E_FAIL; // guarded by ResultLock

private:
    void SetResult(HRESULT hr);
};
