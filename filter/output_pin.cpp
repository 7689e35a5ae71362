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
    if (CSSFStream* stream = Stream())
        stream->WakeWaiter();
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

HRESULT CKVSsfRdOutputPin::WaitForProgress(DWORD dwTimeoutMs) {
    CSSFStream* stream = Stream();
    return stream != nullptr && stream->WaitForProgress(dwTimeoutMs) ? S_OK : S_FALSE;
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
