// CSSFLiveRefresh: downloads a live presentation's manifest again on a worker of its own
// when a stream has played the last chunk of its list, and appends the chunks the new
// document adds to the streams it matches (CSSFManifest::AppendRefresh).
//
// Threads: Request and WaitForRefresh from the pins' workers (a stream lock may be
// held: the worker takes a request before it takes any lock); Stop from the filter's
// thread while no pin runs.
#pragma once

#include <atomic>

#include "fragments/http_client.h"
#include "framework/am_event.h"
#include "framework/am_thread.h"
#include "framework/critical_section.h"

class CSSFManifest;

class CSSFLiveRefresh : public CAMThread {
public:
    explicit CSSFLiveRefresh(CSSFManifest* manifest);
    ~CSSFLiveRefresh() override;

    // Starts a refresh unless one runs; never waits for the download. The worker is
    // created on first use; a refresh that cannot start is dropped (the stream asks again).
    void Request();
    // Waits up to timeoutMs for the refresh under way to end: true when it did; false
    // at once when none runs.
    bool WaitForRefresh(DWORD timeoutMs);
    // Ends the worker, aborting its download; later Requests start a new one.
    void Stop();

private:
    static constexpr DWORD kCommandRefresh = 0;
    static constexpr DWORD kCommandExit = 1;

    DWORD ThreadProc() override;

    CSSFManifest* const m_pManifest; // owner
    CHttpTransferWatch m_watch;      // aborted by Stop
    CCritSec m_requestLock;          // serialises Request and Stop
    CAMEvent m_done{TRUE};           // manual reset: set while no refresh runs
    std::atomic<bool> m_bRunning{false};
};
