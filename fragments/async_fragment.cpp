#include "fragments/async_fragment.h"

#include "framework/catch_out_of_memory.h"

CSSFAsyncFragment::CSSFAsyncFragment(const char* url, uint64_t maxBodyBytes)
    : CSSFFragment(url, maxBodyBytes), DoneEvent(TRUE), CancelEvent(TRUE) {
    DoneEvent.Set();
}

CSSFAsyncFragment::~CSSFAsyncFragment() {
    CSSFAsyncFragment::Reset();
}

void CSSFAsyncFragment::SetResult(HRESULT hr) {
    CAutoLock lock(&ResultLock);
    Result = hr;
}

HRESULT CSSFAsyncFragment::Start() {
    Reset();
    if (!Create())
        return E_FAIL;
    CancelEvent.Reset();
    DoneEvent.Reset();
    SetResult(E_PENDING);
    const HRESULT hr = HRESULT(CallWorker(kCommandDownload));
    if (FAILED(hr)) {
        Reset();
        return hr;
    }
    return E_PENDING;
}

HRESULT CSSFAsyncFragment::Reset() {
    if (ThreadExists()) {
        // Taken only once a running download has returned. The worker itself cannot
        // wait for its own answer; it is let go instead.
        if (!IsWorkerThread()) {
            CancelEvent.Set();
            CallWorker(kCommandExit);
        }
        Close();
    }
    CSSFFragment::Reset();
    SetResult(E_FAIL);
    DoneEvent.Set();
    return S_OK;
}

HRESULT CSSFAsyncFragment::Wait(DWORD timeoutMs) {
    DoneEvent.Wait(timeoutMs);
    CAutoLock lock(&ResultLock);
    return Result;
}

DWORD CSSFAsyncFragment::ThreadProc() {
    for (;;) {
        switch (GetRequest()) {
        case kCommandDownload: {
            Reply(S_OK);
            // Waiters must see a result: running out of memory is one.
            const HRESULT hr = CatchOutOfMemory([this] { return Download(&CancelEvent); });
            {
                CAutoLock lock(&ResultLock);
                Result = hr;
                DoneEvent.Set();
            }
            if (CompletionEvent)
                CompletionEvent->Set();
            break;
        }
        case kCommandExit:
            Reply(S_OK);
            return 0;
        default:
            Reply(DWORD(E_NOTIMPL));
            break;
        }
    }
}
