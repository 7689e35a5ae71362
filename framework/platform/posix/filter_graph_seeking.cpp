// CFilterGraph: IMediaSeeking, forwarded to the filters that expose it.
#include <algorithm>

#include "framework/platform/posix/filter_graph.h"
#include "framework/platform/posix/hresults.h"
#include "framework/platform/posix/sdk_guids.h"

namespace {

// The seekers of a graph, released at the end of the scope.
class CSeekers {
public:
    explicit CSeekers(std::vector<IMediaSeeking*> seekers) : m_seekers(std::move(seekers)) {}
    ~CSeekers() {
        for (IMediaSeeking* pSeeking : m_seekers)
            pSeeking->Release();
    }

    bool Empty() const { return m_seekers.empty(); }
    std::vector<IMediaSeeking*>::const_iterator begin() const { return m_seekers.begin(); }
    std::vector<IMediaSeeking*>::const_iterator end() const { return m_seekers.end(); }

private:
    CSeekers(const CSeekers&) = delete;
    CSeekers& operator=(const CSeekers&) = delete;

    std::vector<IMediaSeeking*> m_seekers;
};

} // namespace

std::vector<IMediaSeeking*> CFilterGraph::SeekersLocked() const {
    std::vector<IMediaSeeking*> seekers;
    for (IBaseFilter* pFilter : DownstreamFirstLocked()) {
        IMediaSeeking* pSeeking = nullptr;
        if (SUCCEEDED(
                pFilter->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&pSeeking))) &&
            pSeeking != nullptr)
            seekers.push_back(pSeeking);
    }
    return seekers;
}

STDMETHODIMP CFilterGraph::GetCapabilities(DWORD* pCapabilities) {
    if (pCapabilities == nullptr)
        return E_POINTER;
    CGraphLock lock(m_csGraph);
    CSeekers seekers(SeekersLocked());
    DWORD shared = ~DWORD(0);
    bool answered = false;
    for (IMediaSeeking* pSeeking : seekers) {
        DWORD caps = 0;
        if (SUCCEEDED(pSeeking->GetCapabilities(&caps))) {
            shared &= caps;
            answered = true;
        }
    }
    *pCapabilities = answered ? shared : 0;
    return answered ? S_OK : E_NOTIMPL;
}

STDMETHODIMP CFilterGraph::CheckCapabilities(DWORD*) {
    return E_NOTIMPL;
}

STDMETHODIMP CFilterGraph::IsFormatSupported(const GUID*) {
    return E_NOTIMPL;
}

STDMETHODIMP CFilterGraph::QueryPreferredFormat(GUID*) {
    return E_NOTIMPL;
}

STDMETHODIMP CFilterGraph::GetTimeFormat(GUID*) {
    return E_NOTIMPL;
}

STDMETHODIMP CFilterGraph::IsUsingTimeFormat(const GUID*) {
    return E_NOTIMPL;
}

STDMETHODIMP CFilterGraph::SetTimeFormat(const GUID*) {
    return E_NOTIMPL;
}

STDMETHODIMP CFilterGraph::GetDuration(LONGLONG* pDuration) {
    if (pDuration == nullptr)
        return E_POINTER;
    CGraphLock lock(m_csGraph);
    CSeekers seekers(SeekersLocked());
    HRESULT result = E_NOTIMPL;
    LONGLONG longest = 0;
    for (IMediaSeeking* pSeeking : seekers) {
        LONGLONG duration = 0;
        const HRESULT hr = pSeeking->GetDuration(&duration);
        if (SUCCEEDED(hr)) {
            longest = result == S_OK ? std::max(longest, duration) : duration;
            result = S_OK;
        } else if (result == E_NOTIMPL) {
            result = hr;
        }
    }
    *pDuration = result == S_OK ? longest : 0;
    return result;
}

STDMETHODIMP CFilterGraph::GetStopPosition(LONGLONG*) {
    return E_NOTIMPL;
}

STDMETHODIMP CFilterGraph::GetCurrentPosition(LONGLONG* pCurrent) {
    if (pCurrent == nullptr)
        return E_POINTER;
    CGraphLock lock(m_csGraph);
    CSeekers seekers(SeekersLocked());
    HRESULT first = E_NOTIMPL;
    for (IMediaSeeking* pSeeking : seekers) {
        const HRESULT hr = pSeeking->GetCurrentPosition(pCurrent);
        if (hr == S_OK)
            return hr;
        if (pSeeking == *seekers.begin())
            first = hr;
    }
    return first;
}

STDMETHODIMP CFilterGraph::ConvertTimeFormat(LONGLONG*, const GUID*, LONGLONG, const GUID*) {
    return E_NOTIMPL;
}

// Every seeker gets the caller's values (a relative move is applied once by each); the
// first seeker's returned times go back to the caller.
STDMETHODIMP CFilterGraph::SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop,
                                        DWORD dwStopFlags) {
    CGraphLock lock(m_csGraph);
    CSeekers seekers(SeekersLocked());
    if (seekers.Empty())
        return E_NOTIMPL;
    const bool moves = (dwCurrentFlags & AM_SEEKING_PositioningBitsMask) != 0 ||
                       (dwStopFlags & AM_SEEKING_PositioningBitsMask) != 0;
    const bool running = moves && m_state == State_Running;
    if (running) {
        DisarmCompletion();
        ApplyStateLocked(State_Paused, 0);
    }
    const LONGLONG current = pCurrent != nullptr ? *pCurrent : 0;
    const LONGLONG stop = pStop != nullptr ? *pStop : 0;
    HRESULT result = S_OK;
    bool first = true;
    for (IMediaSeeking* pSeeking : seekers) {
        LONGLONG seekCurrent = current;
        LONGLONG seekStop = stop;
        const HRESULT hr =
            pSeeking->SetPositions(pCurrent != nullptr ? &seekCurrent : nullptr, dwCurrentFlags,
                                   pStop != nullptr ? &seekStop : nullptr, dwStopFlags);
        if (FAILED(hr) && SUCCEEDED(result))
            result = hr;
        if (first && SUCCEEDED(hr)) {
            if (pCurrent != nullptr)
                *pCurrent = seekCurrent;
            if (pStop != nullptr)
                *pStop = seekStop;
        }
        first = false;
    }
    if (moves && m_state != State_Stopped)
        m_rtPausedAt = 0;
    if (running) {
        m_rtStart = ClockTimeLocked();
        ArmCompletionLocked();
        const HRESULT hr = ApplyStateLocked(State_Running, m_rtStart);
        if (FAILED(hr) && SUCCEEDED(result))
            result = hr;
    }
    return result;
}

STDMETHODIMP CFilterGraph::GetPositions(LONGLONG*, LONGLONG*) {
    return E_NOTIMPL;
}

STDMETHODIMP CFilterGraph::GetAvailable(LONGLONG*, LONGLONG*) {
    return E_NOTIMPL;
}

STDMETHODIMP CFilterGraph::SetRate(double) {
    return E_NOTIMPL;
}

STDMETHODIMP CFilterGraph::GetRate(double*) {
    return E_NOTIMPL;
}

STDMETHODIMP CFilterGraph::GetPreroll(LONGLONG*) {
    return E_NOTIMPL;
}
