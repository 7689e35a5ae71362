// IMediaSeeking of CKVSsfRd: one time format (media time), absolute and relative
// positioning of every connected stream while the pins' workers are stopped.
#include "filter/kvssf_reader.h"
#include "filter/output_pin.h"
#include "framework/catch_out_of_memory.h"
#include "manifest/stream.h"

namespace {

constexpr DWORD kOnDemandCapabilities = AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanSeekForwards |
                                        AM_SEEKING_CanSeekBackwards | AM_SEEKING_CanGetStopPos |
                                        AM_SEEKING_CanGetDuration;

bool IsMediaTime(const GUID* format) {
    return *format == TIME_FORMAT_MEDIA_TIME;
}

} // namespace

STDMETHODIMP CKVSsfRd::GetCapabilities(DWORD* pCapabilities) {
    if (pCapabilities == nullptr)
        return E_POINTER;
    *pCapabilities = IsLive() ? 0 : kOnDemandCapabilities;
    return S_OK;
}

STDMETHODIMP CKVSsfRd::CheckCapabilities(DWORD* pCapabilities) {
    if (pCapabilities == nullptr)
        return E_POINTER;
    const DWORD requested = *pCapabilities;
    if (requested == 0)
        return S_OK;
    const DWORD supported = requested & (IsLive() ? 0 : kOnDemandCapabilities);
    if (supported == 0)
        return E_FAIL;
    return supported == requested ? S_OK : S_FALSE;
}

STDMETHODIMP CKVSsfRd::IsFormatSupported(const GUID* pFormat) {
    if (IsLive())
        return E_NOTIMPL;
    CAutoLock position(&m_csPosition);
    if (pFormat == nullptr)
        return E_POINTER;
    return IsMediaTime(pFormat) ? S_OK : S_FALSE;
}

STDMETHODIMP CKVSsfRd::QueryPreferredFormat(GUID* pFormat) {
    if (IsLive())
        return E_NOTIMPL;
    if (pFormat == nullptr)
        return E_POINTER;
    *pFormat = TIME_FORMAT_MEDIA_TIME;
    return S_OK;
}

STDMETHODIMP CKVSsfRd::GetTimeFormat(GUID* pFormat) {
    return QueryPreferredFormat(pFormat);
}

STDMETHODIMP CKVSsfRd::IsUsingTimeFormat(const GUID* pFormat) {
    if (IsLive())
        return E_NOTIMPL;
    if (pFormat == nullptr)
        return E_POINTER;
    return IsMediaTime(pFormat) ? S_OK : S_FALSE;
}

STDMETHODIMP CKVSsfRd::SetTimeFormat(const GUID* pFormat) {
    if (IsLive())
        return E_NOTIMPL;
    if (pFormat == nullptr)
        return E_POINTER;
    return IsMediaTime(pFormat) ? S_OK : E_INVALIDARG;
}

STDMETHODIMP CKVSsfRd::GetDuration(LONGLONG* pDuration) {
    if (IsLive())
        return E_NOTIMPL;
    if (pDuration == nullptr)
        return E_POINTER;
    CAutoLock position(&m_csPosition);
    *pDuration = m_rtDuration;
    return S_OK;
}

STDMETHODIMP CKVSsfRd::GetStopPosition(LONGLONG* pStop) {
    if (IsLive())
        return E_NOTIMPL;
    if (pStop == nullptr)
        return E_POINTER;
    CAutoLock position(&m_csPosition);
    *pStop = m_rtStop;
    return S_OK;
}

STDMETHODIMP CKVSsfRd::GetCurrentPosition(LONGLONG* pCurrent) {
    if (IsLive())
        return E_NOTIMPL;
    if (pCurrent == nullptr)
        return E_POINTER;
    CAutoLock position(&m_csPosition);
    *pCurrent = m_rtCurrent;
    return S_OK;
}

STDMETHODIMP CKVSsfRd::ConvertTimeFormat(LONGLONG* pTarget, const GUID* pTargetFormat,
                                         LONGLONG Source, const GUID* pSourceFormat) {
    if (IsLive())
        return E_NOTIMPL;
    if (pTarget == nullptr)
        return E_POINTER;
    // A null format stands for the current one.
    const bool targetMediaTime = pTargetFormat == nullptr || IsMediaTime(pTargetFormat);
    const bool sourceMediaTime = pSourceFormat == nullptr || IsMediaTime(pSourceFormat);
    if (!targetMediaTime || !sourceMediaTime)
        return E_INVALIDARG;
    *pTarget = Source;
    return S_OK;
}

STDMETHODIMP CKVSsfRd::SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop,
                                    DWORD dwStopFlags) {
    if (IsLive())
        return E_NOTIMPL;
    CAutoLock seek(&m_csSeek);
    REFERENCE_TIME current, stop, oldCurrent, oldStop;
    {
        CAutoLock position(&m_csPosition);
        current = oldCurrent = m_rtCurrent;
        stop = oldStop = m_rtStop;
    }
    switch (dwCurrentFlags & AM_SEEKING_PositioningBitsMask) {
    case AM_SEEKING_AbsolutePositioning:
        if (pCurrent == nullptr)
            return E_POINTER;
        current = *pCurrent;
        break;
    case AM_SEEKING_RelativePositioning:
    case AM_SEEKING_IncrementalPositioning:
        if (pCurrent == nullptr)
            return E_POINTER;
        current += *pCurrent;
        break;
    default:
        break;
    }
    switch (dwStopFlags & AM_SEEKING_PositioningBitsMask) {
    case AM_SEEKING_AbsolutePositioning:
        if (pStop == nullptr)
            return E_POINTER;
        stop = *pStop;
        break;
    case AM_SEEKING_RelativePositioning:
        if (pStop == nullptr)
            return E_POINTER;
        stop += *pStop;
        break;
    case AM_SEEKING_IncrementalPositioning:
        if (pStop == nullptr)
            return E_POINTER;
        stop = current + *pStop;
        break;
    default:
        break;
    }
    if (current != oldCurrent || stop != oldStop) {
        CAutoLock state(&m_cStateLock);
        BeginSeek();
        // Placing a stream may fetch a fragment. The pins restart even when it fails.
        const HRESULT hr = CatchOutOfMemory([&] {
            ApplyPositions(current, stop);
            return S_OK;
        });
        EndSeek();
        if (FAILED(hr))
            return hr;
    }
    CAutoLock position(&m_csPosition);
    if ((dwCurrentFlags & AM_SEEKING_ReturnTime) && pCurrent != nullptr)
        *pCurrent = m_rtCurrent;
    if ((dwStopFlags & AM_SEEKING_ReturnTime) && pStop != nullptr)
        *pStop = m_rtStop;
    return S_OK;
}

void CKVSsfRd::BeginSeek() {
    if (m_State == State_Stopped)
        return;
    for (int i = 0; i < GetPinCount(); ++i)
        if (OutputPin(i)->IsConnected())
            OutputPin(i)->DeliverBeginFlush();
    for (int i = 0; i < GetPinCount(); ++i)
        if (OutputPin(i)->IsConnected() && OutputPin(i)->ThreadExists())
            OutputPin(i)->StopWorker();
    for (int i = 0; i < GetPinCount(); ++i)
        if (OutputPin(i)->IsConnected())
            if (CSSFStream* stream = OutputPin(i)->Stream())
                stream->OnFlush();
}

void CKVSsfRd::ApplyPositions(REFERENCE_TIME rtStart, REFERENCE_TIME rtStop) {
    REFERENCE_TIME duration;
    {
        CAutoLock position(&m_csPosition);
        duration = m_rtDuration;
    }
    rtStart = rtStart < 0 ? 0 : rtStart > duration ? duration : rtStart;
    rtStop = rtStop < rtStart ? rtStart : rtStop > duration ? duration : rtStop;
    for (int i = 0; i < GetPinCount(); ++i)
        if (CSSFStream* stream = OutputPin(i)->IsConnected() ? OutputPin(i)->Stream() : nullptr)
            stream->PrefetchSeek(rtStart);
    // A start in no chunk of some stream puts every stream at the beginning.
    for (int i = 0; i < GetPinCount(); ++i) {
        CKVSsfRdOutputPin* pin = OutputPin(i);
        CSSFStream* stream = pin->IsConnected() ? pin->Stream() : nullptr;
        if (stream == nullptr)
            continue;
        if (!stream->Seek(rtStart) && rtStart != 0) {
            rtStart = 0;
            i = -1;
        }
    }
    CAutoLock position(&m_csPosition);
    m_rtCurrent = m_rtStart = rtStart;
    m_rtStop = rtStop;
}

void CKVSsfRd::EndSeek() {
    if (m_State == State_Stopped)
        return;
    for (int i = 0; i < GetPinCount(); ++i)
        if (OutputPin(i)->IsConnected())
            OutputPin(i)->DeliverEndFlush();
    if (m_State == State_Stopped)
        return;
    for (int i = 0; i < GetPinCount(); ++i)
        if (OutputPin(i)->IsConnected() && OutputPin(i)->ThreadExists())
            OutputPin(i)->RestartWorker();
}

STDMETHODIMP CKVSsfRd::GetPositions(LONGLONG* pCurrent, LONGLONG* pStop) {
    if (IsLive())
        return E_NOTIMPL;
    CAutoLock position(&m_csPosition);
    if (pCurrent != nullptr)
        *pCurrent = m_rtCurrent;
    if (pStop != nullptr)
        *pStop = m_rtStop;
    return S_OK;
}

STDMETHODIMP CKVSsfRd::GetAvailable(LONGLONG* pEarliest, LONGLONG* pLatest) {
    if (IsLive())
        return E_NOTIMPL;
    CAutoLock position(&m_csPosition);
    if (pEarliest != nullptr)
        *pEarliest = 0;
    if (pLatest != nullptr)
        *pLatest = m_rtDuration;
    return S_OK;
}

STDMETHODIMP CKVSsfRd::SetRate(double dRate) {
    if (IsLive())
        return E_NOTIMPL;
    if (dRate <= 0.0)
        return E_INVALIDARG;
    m_dRate = dRate;
    return S_OK;
}

STDMETHODIMP CKVSsfRd::GetRate(double* pdRate) {
    if (IsLive())
        return E_NOTIMPL;
    if (pdRate == nullptr)
        return E_POINTER;
    *pdRate = m_dRate;
    return S_OK;
}

STDMETHODIMP CKVSsfRd::GetPreroll(LONGLONG* pllPreroll) {
    if (pllPreroll == nullptr)
        return E_POINTER;
    *pllPreroll = 0;
    return S_OK;
}
