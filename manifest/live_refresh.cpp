#include "manifest/live_refresh.h"

#include "framework/catch_out_of_memory.h"
#include "manifest/manifest.h"

CSSFLiveRefresh::CSSFLiveRefresh(CSSFManifest* manifest) : m_pManifest(manifest) {
    m_done.Set();
}

CSSFLiveRefresh::~CSSFLiveRefresh() {
    Stop();
}

void CSSFLiveRefresh::Request() {
    CAutoLock lock(&m_requestLock);
    if (m_bRunning.load())
        return;
    if (!ThreadExists() && !Create())
        return;
    m_bRunning = true;
    m_done.Reset();
    if (FAILED(HRESULT(CallWorker(kCommandRefresh)))) {
        m_bRunning = false;
        m_done.Set();
    }
}

bool CSSFLiveRefresh::WaitForRefresh(DWORD timeoutMs) {
    return m_bRunning.load() && m_done.Wait(timeoutMs) != FALSE;
}

void CSSFLiveRefresh::Stop() {
    CAutoLock lock(&m_requestLock);
    if (ThreadExists()) {
        m_watch.Abort();
        CallWorker(kCommandExit);
        Close();
    }
    m_watch.Restart();
    m_bRunning = false;
    m_done.Set();
}

DWORD CSSFLiveRefresh::ThreadProc() {
    for (;;) {
        switch (GetRequest()) {
        case kCommandRefresh:
            Reply(S_OK);
            // A failed refresh changes nothing; the stream asks again or gives up.
            CatchOutOfMemory([this] { return m_pManifest->AppendRefresh(&m_watch); });
            m_bRunning = false;
            m_done.Set();
            break;
        case kCommandExit:
            Reply(S_OK);
            return 0;
        default:
            Reply(DWORD(E_NOTIMPL));
            break;
        }
    }
}
