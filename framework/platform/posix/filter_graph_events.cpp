// CFilterGraph: IMediaEventSink for the filters, IMediaEvent/IMediaEventEx for the host,
// and the end-of-stream count of the renderers.
#include <algorithm>
#include <chrono>

#include "framework/platform/posix/filter_graph.h"
#include "framework/platform/posix/hresults.h"

void CFilterGraph::QueueEventLocked(LONG lCode, LONG_PTR lParam1, LONG_PTR lParam2) {
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
    if (m_renderers.empty())
        QueueEventLocked(EC_COMPLETE, S_OK, 0);
}

void CFilterGraph::DisarmCompletion() {
    std::lock_guard<std::mutex> lock(m_eventMutex);
    m_bRunning = false;
    m_renderers.clear();
}

STDMETHODIMP CFilterGraph::Notify(LONG EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2) {
    std::lock_guard<std::mutex> lock(m_eventMutex);
    if (EventCode != EC_COMPLETE) {
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
    const auto queued = [this] { return !m_events.empty(); };
    if (msTimeout < 0)
        m_eventChanged.wait(lock, queued);
    else if (!m_eventChanged.wait_for(lock, std::chrono::milliseconds(msTimeout), queued))
        return E_ABORT;
    const Event event = m_events.front();
    m_events.pop_front();
    *lEventCode = event.lCode;
    *lParam1 = event.lParam1;
    *lParam2 = event.lParam2;
    return S_OK;
}

STDMETHODIMP CFilterGraph::WaitForCompletion(LONG, LONG* pEvCode) {
    if (pEvCode != nullptr)
        *pEvCode = 0;
    return E_NOTIMPL;
}

STDMETHODIMP CFilterGraph::CancelDefaultHandling(LONG) {
    return E_NOTIMPL;
}

STDMETHODIMP CFilterGraph::RestoreDefaultHandling(LONG) {
    return E_NOTIMPL;
}

STDMETHODIMP CFilterGraph::FreeEventParams(LONG, LONG_PTR, LONG_PTR) {
    return S_OK;
}

STDMETHODIMP CFilterGraph::SetNotifyWindow(OAHWND, LONG, LONG_PTR) {
    return E_NOTIMPL;
}

STDMETHODIMP CFilterGraph::SetNotifyFlags(LONG) {
    return E_NOTIMPL;
}

STDMETHODIMP CFilterGraph::GetNotifyFlags(LONG* lplNoNotifyFlags) {
    if (lplNoNotifyFlags != nullptr)
        *lplNoNotifyFlags = 0;
    return E_NOTIMPL;
}
