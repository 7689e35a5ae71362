// CFilterGraph: IMediaEventSink for the filters, IMediaEvent/IMediaEventEx for the host,
// and the end-of-stream count of the renderers.
#include <algorithm>
#include <chrono>

#include "framework/platform/posix/filter_graph.h"
#include "framework/platform/posix/hresults.h"

namespace {

bool EndsCompletionWait(LONG lCode) {
    return lCode == EC_COMPLETE || lCode == EC_ERRORABORT || lCode == EC_USERABORT;
}

// Waits on condition with a host time-out in ms (negative: no limit); false on time-out.
template <class Predicate>
bool WaitFor(std::condition_variable& condition, std::unique_lock<std::mutex>& lock, LONG msTimeout,
             Predicate ready) {
    if (msTimeout < 0) {
        condition.wait(lock, ready);
        return true;
    }
    return condition.wait_for(lock, std::chrono::milliseconds(msTimeout), ready);
}

} // namespace

void CFilterGraph::QueueEventLocked(LONG lCode, LONG_PTR lParam1, LONG_PTR lParam2) {
    if (m_lNoNotifyFlags & AM_MEDIAEVENT_NONOTIFY)
        return;
    m_events.push_back(Event{lCode, lParam1, lParam2});
    m_eventChanged.notify_all();
}

void CFilterGraph::ArmCompletionLocked() {
    std::vector<Renderer> renderers;
    for (const FilterEntry& entry : m_filters)
        if (IsRenderer(entry.pFilter))
            renderers.push_back(Renderer{entry.pFilter, false});
    std::lock_guard<std::mutex> lock(m_eventMutex);
    m_renderers = std::move(renderers);
    m_hrComplete = S_OK;
    m_bRunning = true;
    if (m_renderers.empty() && m_bDefaultComplete)
        QueueEventLocked(EC_COMPLETE, S_OK, 0);
    m_eventChanged.notify_all();
}

void CFilterGraph::DisarmCompletion() {
    std::lock_guard<std::mutex> lock(m_eventMutex);
    m_bRunning = false;
    m_renderers.clear();
    m_eventChanged.notify_all();
}

STDMETHODIMP CFilterGraph::Notify(LONG EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2) {
    std::lock_guard<std::mutex> lock(m_eventMutex);
    if (EventCode != EC_COMPLETE || !m_bDefaultComplete) {
        QueueEventLocked(EventCode, EventParam1, EventParam2);
        return S_OK;
    }
    if (!m_bRunning)
        return S_OK;
    // The sender is the second parameter; without one, the report counts for a renderer
    // that has not reported yet.
    const auto it = std::find_if(m_renderers.begin(), m_renderers.end(), [&](const Renderer& r) {
        return EventParam2 != 0 ? reinterpret_cast<LONG_PTR>(r.pFilter) == EventParam2
                                : !r.bComplete;
    });
    if (it == m_renderers.end() || it->bComplete)
        return S_OK;
    it->bComplete = true;
    if (FAILED(HRESULT(EventParam1)) && SUCCEEDED(m_hrComplete))
        m_hrComplete = HRESULT(EventParam1);
    if (std::all_of(m_renderers.begin(), m_renderers.end(),
                    [](const Renderer& r) { return r.bComplete; }))
        QueueEventLocked(EC_COMPLETE, m_hrComplete, 0);
    return S_OK;
}

STDMETHODIMP CFilterGraph::GetEventHandle(OAEVENT* hEvent) {
    if (hEvent != nullptr)
        *hEvent = 0;
    return E_NOTIMPL;
}

STDMETHODIMP CFilterGraph::GetEvent(LONG* lEventCode, LONG_PTR* lParam1, LONG_PTR* lParam2,
                                    LONG msTimeout) {
    if (lEventCode == nullptr || lParam1 == nullptr || lParam2 == nullptr)
        return E_POINTER;
    *lEventCode = 0;
    *lParam1 = 0;
    *lParam2 = 0;
    std::unique_lock<std::mutex> lock(m_eventMutex);
    if (!WaitFor(m_eventChanged, lock, msTimeout, [this] { return !m_events.empty(); }))
        return E_ABORT;
    const Event event = m_events.front();
    m_events.pop_front();
    *lEventCode = event.lCode;
    *lParam1 = event.lParam1;
    *lParam2 = event.lParam2;
    return S_OK;
}

STDMETHODIMP CFilterGraph::WaitForCompletion(LONG msTimeout, LONG* pEvCode) {
    if (pEvCode == nullptr)
        return E_POINTER;
    *pEvCode = 0;
    std::unique_lock<std::mutex> lock(m_eventMutex);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(msTimeout);
    for (;;) {
        while (!m_events.empty()) {
            const LONG lCode = m_events.front().lCode;
            m_events.pop_front();
            if (EndsCompletionWait(lCode)) {
                *pEvCode = lCode;
                return S_OK;
            }
        }
        if (!m_bRunning)
            return VFW_E_WRONG_STATE;
        auto ready = [this] { return !m_events.empty() || !m_bRunning; };
        if (msTimeout < 0)
            m_eventChanged.wait(lock, ready);
        else if (!m_eventChanged.wait_until(lock, deadline, ready))
            return E_ABORT;
    }
}

STDMETHODIMP CFilterGraph::CancelDefaultHandling(LONG lEvCode) {
    if (lEvCode != EC_COMPLETE)
        return E_INVALIDARG;
    std::lock_guard<std::mutex> lock(m_eventMutex);
    m_bDefaultComplete = false;
    return S_OK;
}

STDMETHODIMP CFilterGraph::RestoreDefaultHandling(LONG lEvCode) {
    if (lEvCode != EC_COMPLETE)
        return E_INVALIDARG;
    std::lock_guard<std::mutex> lock(m_eventMutex);
    m_bDefaultComplete = true;
    return S_OK;
}

STDMETHODIMP CFilterGraph::FreeEventParams(LONG, LONG_PTR, LONG_PTR) {
    return S_OK;
}

STDMETHODIMP CFilterGraph::SetNotifyWindow(OAHWND, LONG, LONG_PTR) {
    return E_NOTIMPL;
}

STDMETHODIMP CFilterGraph::SetNotifyFlags(LONG lNoNotifyFlags) {
    if (lNoNotifyFlags != 0 && lNoNotifyFlags != AM_MEDIAEVENT_NONOTIFY)
        return E_INVALIDARG;
    std::lock_guard<std::mutex> lock(m_eventMutex);
    m_lNoNotifyFlags = lNoNotifyFlags;
    if (lNoNotifyFlags & AM_MEDIAEVENT_NONOTIFY)
        m_events.clear();
    return S_OK;
}

STDMETHODIMP CFilterGraph::GetNotifyFlags(LONG* lplNoNotifyFlags) {
    if (lplNoNotifyFlags == nullptr)
        return E_POINTER;
    std::lock_guard<std::mutex> lock(m_eventMutex);
    *lplNoNotifyFlags = m_lNoNotifyFlags;
    return S_OK;
}
