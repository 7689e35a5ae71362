#include "filter/output_pin.h"

#include "filter/kvssf_reader.h"
#include "fragments/async_fragment.h"
#include "manifest/stream.h"

CKVSsfRdOutputPin::CKVSsfRdOutputPin(CKVSsfRd* pReader, HRESULT* phr, LPCWSTR pName,
                                     uint64_t nStream)
    : CSourceStream(nullptr, phr, pReader, pName), m_pReader(pReader), m_nStream(nStream) {}

STDMETHODIMP CKVSsfRdOutputPin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr)
        return E_POINTER;
    if (riid == IID_IMediaSeeking)
        return GetInterface(static_cast<IMediaSeeking*>(this), ppv);
    return CSourceStream::NonDelegatingQueryInterface(riid, ppv);
}

CSSFStream* CKVSsfRdOutputPin::Stream() {
    return m_pReader->GetStream(m_nStream);
}

HRESULT CKVSsfRdOutputPin::GetMediaType(CMediaType* pMediaType) {
    CSSFStream* stream = Stream();
    return stream != nullptr ? stream->GetMediaType(0, pMediaType) : E_UNEXPECTED;
}

HRESULT CKVSsfRdOutputPin::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pRequest) {
    CSSFStream* stream = Stream();
    return stream != nullptr ? stream->DecideBufferSize(pAlloc, pRequest) : E_UNEXPECTED;
}

HRESULT CKVSsfRdOutputPin::Active() {
    CSSFStream* stream = Stream();
    if (stream == nullptr)
        return E_UNEXPECTED;
    const HRESULT hr = stream->OnActive();
    return FAILED(hr) ? hr : CSourceStream::Active();
}

HRESULT CKVSsfRdOutputPin::Inactive() {
    CSSFStream* stream = Stream();
    if (stream == nullptr)
        return E_UNEXPECTED;
    const HRESULT hr = stream->OnInactive();
    return FAILED(hr) ? hr : CSourceStream::Inactive();
}

HRESULT CKVSsfRdOutputPin::DeliverBeginFlush() {
    m_bFlushing = TRUE;
    return CSourceStream::DeliverBeginFlush();
}

HRESULT CKVSsfRdOutputPin::DeliverEndFlush() {
    const HRESULT hr = CSourceStream::DeliverEndFlush();
    m_bFlushing = FALSE;
    return hr;
}

STDMETHODIMP CKVSsfRdOutputPin::Notify(IBaseFilter*, Quality) {
    return S_OK;
}

HRESULT CKVSsfRdOutputPin::OnThreadStartPlay() {
    CSSFStream* stream = Stream();
    if (stream == nullptr)
        return E_UNEXPECTED;
    if (!m_pReader->IsLive()) {
        const REFERENCE_TIME start = m_pReader->SegmentStart();
        const REFERENCE_TIME stop = m_pReader->StopPosition();
        const double rate = m_pReader->Rate();
        stream->OnNewSegment(start, stop, rate);
        const HRESULT hr = DeliverNewSegment(start, stop, rate);
        if (FAILED(hr))
            return hr;
    }
    m_bDiscontinuity = TRUE;
    return S_OK;
}

HRESULT CKVSsfRdOutputPin::FillBuffer(IMediaSample* pSample) {
    CSSFStream* stream = Stream();
    if (stream == nullptr)
        return E_UNEXPECTED;
    HRESULT hr = stream->FillSample(pSample);
    if (hr != S_OK)
        return hr;
    hr = pSample->SetDiscontinuity(m_bDiscontinuity);
    if (FAILED(hr))
        return hr;
    m_bDiscontinuity = FALSE;

    REFERENCE_TIME start = 0, stop = 0;
    if (pSample->GetTime(&start, &stop) != S_OK)
        return S_OK;
    if (start >= m_pReader->StopPosition())
        return S_FALSE;
    m_pReader->UpdateCurrentPosition(stop);
    start -= m_pReader->SegmentStart();
    stop -= m_pReader->SegmentStart();
    hr = pSample->SetTime(&start, &stop);
    if (FAILED(hr))
        return hr;
    return pSample->SetPreroll(stop < kPrerollLimit ? TRUE : FALSE);
}

void CKVSsfRdOutputPin::WaitForProgress(CSSFStream* stream) {
    // The fragment of the current chunk, if it is downloading, ends the wait when done;
    // without one a command (or the time-out) does.
    if (stream->WaitForCurrentFragment(kWaitSliceMs))
        return;
    DWORD command = 0;
    CheckRequest(&command, kWaitSliceMs);
}

HRESULT CKVSsfRdOutputPin::DoBufferProcessingLoop() {
    OnThreadStartPlay();
    for (;;) {
        DWORD command = 0;
        while (!CheckRequest(&command, 0)) {
            if (m_bFlushing) {
                // Nothing to produce until the seek's Stop command arrives.
                CheckRequest(&command, kWaitSliceMs);
                continue;
            }
            IMediaSample* sample = nullptr;
            HRESULT hr = GetDeliveryBuffer(&sample, nullptr, nullptr, 0);
            if (FAILED(hr))
                return hr;
            hr = FillBuffer(sample);
            if (hr == S_OK) {
                hr = Deliver(sample);
                sample->Release();
                if (hr != S_OK)
                    return S_OK;
                continue;
            }
            sample->Release();
            if (hr == S_FALSE) {
                DeliverEndOfStream();
                return S_OK;
            }
            if (hr == E_PENDING) {
                if (CSSFStream* stream = Stream())
                    WaitForProgress(stream);
                continue;
            }
            DeliverEndOfStream();
            m_pReader->NotifyEvent(EC_ERRORABORT, LONG_PTR(hr), 0);
            return hr;
        }
        if (command == CMD_PAUSE || command == CMD_RUN) {
            Reply(S_OK);
        } else if (command == CMD_STOP) {
            return S_FALSE;
        } else {
            Reply(DWORD(E_UNEXPECTED));
        }
    }
}

STDMETHODIMP CKVSsfRdOutputPin::GetCapabilities(DWORD* p) {
    return m_pReader->GetCapabilities(p);
}
STDMETHODIMP CKVSsfRdOutputPin::CheckCapabilities(DWORD* p) {
    return m_pReader->CheckCapabilities(p);
}
STDMETHODIMP CKVSsfRdOutputPin::IsFormatSupported(const GUID* p) {
    return m_pReader->IsFormatSupported(p);
}
STDMETHODIMP CKVSsfRdOutputPin::QueryPreferredFormat(GUID* p) {
    return m_pReader->QueryPreferredFormat(p);
}
STDMETHODIMP CKVSsfRdOutputPin::GetTimeFormat(GUID* p) {
    return m_pReader->GetTimeFormat(p);
}
STDMETHODIMP CKVSsfRdOutputPin::IsUsingTimeFormat(const GUID* p) {
    return m_pReader->IsUsingTimeFormat(p);
}
STDMETHODIMP CKVSsfRdOutputPin::SetTimeFormat(const GUID* p) {
    return m_pReader->SetTimeFormat(p);
}
STDMETHODIMP CKVSsfRdOutputPin::GetDuration(LONGLONG* p) {
    return m_pReader->GetDuration(p);
}
STDMETHODIMP CKVSsfRdOutputPin::GetStopPosition(LONGLONG* p) {
    return m_pReader->GetStopPosition(p);
}
STDMETHODIMP CKVSsfRdOutputPin::GetCurrentPosition(LONGLONG* p) {
    return m_pReader->GetCurrentPosition(p);
}
STDMETHODIMP CKVSsfRdOutputPin::ConvertTimeFormat(LONGLONG* pTarget, const GUID* pTargetFormat,
                                                  LONGLONG Source, const GUID* pSourceFormat) {
    return m_pReader->ConvertTimeFormat(pTarget, pTargetFormat, Source, pSourceFormat);
}
STDMETHODIMP CKVSsfRdOutputPin::SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags,
                                             LONGLONG* pStop, DWORD dwStopFlags) {
    return m_pReader->SetPositions(pCurrent, dwCurrentFlags, pStop, dwStopFlags);
}
STDMETHODIMP CKVSsfRdOutputPin::GetPositions(LONGLONG* pCurrent, LONGLONG* pStop) {
    return m_pReader->GetPositions(pCurrent, pStop);
}
STDMETHODIMP CKVSsfRdOutputPin::GetAvailable(LONGLONG* pEarliest, LONGLONG* pLatest) {
    return m_pReader->GetAvailable(pEarliest, pLatest);
}
STDMETHODIMP CKVSsfRdOutputPin::SetRate(double dRate) {
    return m_pReader->SetRate(dRate);
}
STDMETHODIMP CKVSsfRdOutputPin::GetRate(double* p) {
    return m_pReader->GetRate(p);
}
STDMETHODIMP CKVSsfRdOutputPin::GetPreroll(LONGLONG* p) {
    return m_pReader->GetPreroll(p);
}
