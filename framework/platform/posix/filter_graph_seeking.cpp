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

    // The first S_OK answer, else the first seeker's answer; E_NOTIMPL without seekers.
    template <class Call> HRESULT FirstAnswer(Call call) const {
        HRESULT first = E_NOTIMPL;
        for (size_t i = 0; i < m_seekers.size(); ++i) {
            const HRESULT hr = call(m_seekers[i]);
            if (hr == S_OK)
                return hr;
            if (i == 0)
                first = hr;
        }
        return first;
    }

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

STDMETHODIMP CFilterGraph::CheckCapabilities(DWORD* pCapabilities) {
    if (pCapabilities == nullptr)
        return E_POINTER;
    DWORD caps = 0;
    const HRESULT hr = GetCapabilities(&caps);
    if (FAILED(hr))
        return hr;
    const DWORD wanted = *pCapabilities;
    *pCapabilities = wanted & caps;
    if (*pCapabilities == wanted)
        return S_OK;
    return *pCapabilities != 0 ? S_FALSE : E_FAIL;
}

STDMETHODIMP CFilterGraph::IsFormatSupported(const GUID* pFormat) {
    if (pFormat == nullptr)
        return E_POINTER;
    CGraphLock lock(m_csGraph);
    CSeekers seekers(SeekersLocked());
    return seekers.FirstAnswer([&](IMediaSeeking* p) { return p->IsFormatSupported(pFormat); });
}

STDMETHODIMP CFilterGraph::QueryPreferredFormat(GUID* pFormat) {
    if (pFormat == nullptr)
        return E_POINTER;
    CGraphLock lock(m_csGraph);
    CSeekers seekers(SeekersLocked());
    return seekers.FirstAnswer([&](IMediaSeeking* p) { return p->QueryPreferredFormat(pFormat); });
}

STDMETHODIMP CFilterGraph::GetTimeFormat(GUID* pFormat) {
    if (pFormat == nullptr)
        return E_POINTER;
    CGraphLock lock(m_csGraph);
    CSeekers seekers(SeekersLocked());
    return seekers.FirstAnswer([&](IMediaSeeking* p) { return p->GetTimeFormat(pFormat); });
}

STDMETHODIMP CFilterGraph::IsUsingTimeFormat(const GUID* pFormat) {
    if (pFormat == nullptr)
        return E_POINTER;
    CGraphLock lock(m_csGraph);
    CSeekers seekers(SeekersLocked());
    return seekers.FirstAnswer([&](IMediaSeeking* p) { return p->IsUsingTimeFormat(pFormat); });
}

STDMETHODIMP CFilterGraph::SetTimeFormat(const GUID* pFormat) {
    if (pFormat == nullptr)
        return E_POINTER;
    CGraphLock lock(m_csGraph);
    if (m_state != State_Stopped)
        return VFW_E_NOT_STOPPED;
    CSeekers seekers(SeekersLocked());
    if (seekers.Empty())
        return E_NOTIMPL;
    for (IMediaSeeking* pSeeking : seekers) {
        const HRESULT hr = pSeeking->SetTimeFormat(pFormat);
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
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

STDMETHODIMP CFilterGraph::GetStopPosition(LONGLONG* pStop) {
    if (pStop == nullptr)
        return E_POINTER;
    CGraphLock lock(m_csGraph);
    CSeekers seekers(SeekersLocked());
    return seekers.FirstAnswer([&](IMediaSeeking* p) { return p->GetStopPosition(pStop); });
}

STDMETHODIMP CFilterGraph::GetCurrentPosition(LONGLONG* pCurrent) {
    if (pCurrent == nullptr)
        return E_POINTER;
    CGraphLock lock(m_csGraph);
    CSeekers seekers(SeekersLocked());
    return seekers.FirstAnswer([&](IMediaSeeking* p) { return p->GetCurrentPosition(pCurrent); });
}

STDMETHODIMP CFilterGraph::ConvertTimeFormat(LONGLONG* pTarget, const GUID* pTargetFormat,
                                             LONGLONG Source, const GUID* pSourceFormat) {
    if (pTarget == nullptr)
        return E_POINTER;
    CGraphLock lock(m_csGraph);
    CSeekers seekers(SeekersLocked());
    return seekers.FirstAnswer([&](IMediaSeeking* p) {
        return p->ConvertTimeFormat(pTarget, pTargetFormat, Source, pSourceFormat);
    });
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

STDMETHODIMP CFilterGraph::GetPositions(LONGLONG* pCurrent, LONGLONG* pStop) {
    CGraphLock lock(m_csGraph);
    CSeekers seekers(SeekersLocked());
    return seekers.FirstAnswer([&](IMediaSeeking* p) { return p->GetPositions(pCurrent, pStop); });
}

STDMETHODIMP CFilterGraph::GetAvailable(LONGLONG* pEarliest, LONGLONG* pLatest) {
    CGraphLock lock(m_csGraph);
    CSeekers seekers(SeekersLocked());
    return seekers.FirstAnswer(
        [&](IMediaSeeking* p) { return p->GetAvailable(pEarliest, pLatest); });
}

STDMETHODIMP CFilterGraph::SetRate(double dRate) {
    CGraphLock lock(m_csGraph);
    CSeekers seekers(SeekersLocked());
    if (seekers.Empty())
        return E_NOTIMPL;
    HRESULT result = S_OK;
    for (IMediaSeeking* pSeeking : seekers) {
        const HRESULT hr = pSeeking->SetRate(dRate);
        if (FAILED(hr) && SUCCEEDED(result))
            result = hr;
    }
    return result;
}

STDMETHODIMP CFilterGraph::GetRate(double* pdRate) {
    if (pdRate == nullptr)
        return E_POINTER;
    CGraphLock lock(m_csGraph);
    CSeekers seekers(SeekersLocked());
    return seekers.FirstAnswer([&](IMediaSeeking* p) { return p->GetRate(pdRate); });
}

STDMETHODIMP CFilterGraph::GetPreroll(LONGLONG* pllPreroll) {
    if (pllPreroll == nullptr)
        return E_POINTER;
    CGraphLock lock(m_csGraph);
    CSeekers seekers(SeekersLocked());
    return seekers.FirstAnswer([&](IMediaSeeking* p) { return p->GetPreroll(pllPreroll); });
}
