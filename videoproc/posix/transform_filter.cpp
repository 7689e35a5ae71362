#include "videoproc/posix/transform_filter.h"

#include <algorithm>
#include <new>

CPictureTransformInputPin::CPictureTransformInputPin(CPictureTransform* filter, CCritSec* lock,
                                                     HRESULT* phr)
    : CBaseInputPin(L"Picture transform input", filter, lock, phr, L"In"), m_transform(filter) {}

HRESULT CPictureTransformInputPin::CheckMediaType(const CMediaType* pmt) {
    return m_transform->CheckInputType(*pmt);
}

HRESULT CPictureTransformInputPin::SetMediaType(const CMediaType* pmt) {
    HRESULT hr = CBaseInputPin::SetMediaType(pmt);
    if (SUCCEEDED(hr))
        hr = m_transform->SetInputType(*pmt);
    return hr;
}

HRESULT CPictureTransformInputPin::BreakConnect() {
    m_transform->BreakInput();
    return CBaseInputPin::BreakConnect();
}

HRESULT CPictureTransformInputPin::CompleteConnect(IPin* pReceivePin) {
    m_transform->m_output->IncrementTypeVersion();
    return CBaseInputPin::CompleteConnect(pReceivePin);
}

STDMETHODIMP CPictureTransformInputPin::Receive(IMediaSample* pSample) {
    CAutoLock lock(&m_transform->m_csReceive);
    const HRESULT hr = CBaseInputPin::Receive(pSample);
    if (hr != S_OK)
        return hr;
    return m_transform->Transform(pSample);
}

STDMETHODIMP CPictureTransformInputPin::EndOfStream() {
    CAutoLock lock(&m_transform->m_csReceive);
    if (CheckStreaming() != S_OK)
        return S_OK;
    // The end goes on even when a drained picture could not be delivered.
    m_transform->Drain();
    return m_transform->m_output->DeliverEndOfStream();
}

STDMETHODIMP CPictureTransformInputPin::BeginFlush() {
    HRESULT hr = CBaseInputPin::BeginFlush();
    if (FAILED(hr))
        return hr;
    hr = m_transform->m_output->DeliverBeginFlush();
    CAutoLock lock(&m_transform->m_csReceive);
    m_transform->ResetStream();
    return hr;
}

STDMETHODIMP CPictureTransformInputPin::EndFlush() {
    const HRESULT hr = m_transform->m_output->DeliverEndFlush();
    CBaseInputPin::EndFlush();
    return hr;
}

STDMETHODIMP CPictureTransformInputPin::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop,
                                                   double dRate) {
    CBaseInputPin::NewSegment(tStart, tStop, dRate);
    return m_transform->m_output->DeliverNewSegment(tStart, tStop, dRate);
}

CPictureTransformOutputPin::CPictureTransformOutputPin(CPictureTransform* filter, CCritSec* lock,
                                                       HRESULT* phr)
    : CBaseOutputPin(L"Picture transform output", filter, lock, phr, L"Out"), m_transform(filter) {}

HRESULT CPictureTransformOutputPin::CheckMediaType(const CMediaType* pmt) {
    if (!m_transform->m_input->IsConnected())
        return VFW_E_NOT_CONNECTED;
    return m_transform->CheckOutputType(m_transform->InputType(), *pmt);
}

HRESULT CPictureTransformOutputPin::GetMediaType(int iPosition, CMediaType* pMediaType) {
    if (iPosition < 0)
        return E_INVALIDARG;
    if (!m_transform->m_input->IsConnected())
        return VFW_S_NO_MORE_ITEMS;
    return m_transform->GetOutputType(m_transform->InputType(), iPosition, pMediaType);
}

HRESULT CPictureTransformOutputPin::SetMediaType(const CMediaType* pmt) {
    VideoPicture picture;
    if (!ReadVideoPicture(*pmt, &picture))
        return VFW_E_TYPE_NOT_ACCEPTED;
    const HRESULT hr = CBaseOutputPin::SetMediaType(pmt);
    if (SUCCEEDED(hr))
        m_transform->m_outputPicture = picture;
    return hr;
}

HRESULT CPictureTransformOutputPin::DecideBufferSize(IMemAllocator* pAlloc,
                                                     ALLOCATOR_PROPERTIES* pRequest) {
    const VideoPicture& picture = m_transform->m_outputPicture;
    const LONG size = PictureSize(picture.subtype, picture.width, picture.height);
    if (size <= 0)
        return E_FAIL;
    ALLOCATOR_PROPERTIES request = *pRequest;
    request.cBuffers = std::max<LONG>(request.cBuffers, 2);
    request.cbBuffer = std::max(request.cbBuffer, size);
    ALLOCATOR_PROPERTIES actual{};
    const HRESULT hr = pAlloc->SetProperties(&request, &actual);
    if (FAILED(hr))
        return hr;
    return actual.cbBuffer >= size && actual.cBuffers >= 1 ? S_OK : E_FAIL;
}

CPictureTransform::CPictureTransform(LPCWSTR name, REFCLSID clsid, HRESULT* phr)
    : CBaseFilter(name, nullptr, &m_csFilter, clsid, phr),
      m_input(new (std::nothrow) CPictureTransformInputPin(this, &m_csFilter, phr)),
      m_output(new (std::nothrow) CPictureTransformOutputPin(this, &m_csFilter, phr)) {
    if ((!m_input || !m_output) && phr != nullptr)
        *phr = E_OUTOFMEMORY;
}

CPictureTransform::~CPictureTransform() = default;

CBasePin* CPictureTransform::GetPin(int n) {
    if (n == 0)
        return m_input.get();
    if (n == 1)
        return m_output.get();
    return nullptr;
}

STDMETHODIMP CPictureTransform::Stop() {
    CAutoLock lock(&m_csFilter);
    const HRESULT hr = CBaseFilter::Stop();
    CAutoLock receive(&m_csReceive);
    ResetStream();
    return hr;
}

HRESULT CPictureTransform::DeliverPicture(const uint8_t* const data[4], const int linesize[4],
                                          int width, int height, AVPixelFormat format,
                                          const PictureProperties& props) {
    ComPtr<IMediaSample> out;
    HRESULT hr = m_output->GetDeliveryBuffer(out.Out(), nullptr, nullptr, 0);
    if (FAILED(hr))
        return hr;
    if (m_input->IsFlushing())
        return S_OK;
    const VideoPicture& picture = m_outputPicture;
    const LONG size = PictureSize(picture.subtype, picture.width, picture.height);
    BYTE* buffer = nullptr;
    uint8_t* planes[4];
    int strides[4];
    hr = out->GetPointer(&buffer);
    if (FAILED(hr))
        return hr;
    if (!PicturePlanes(picture, buffer, out->GetSize(), planes, strides))
        return VFW_E_BUFFER_OVERFLOW;
    hr = m_scaler.Scale(data, linesize, width, height, format, picture, planes, strides);
    if (FAILED(hr))
        return hr;
    out->SetActualDataLength(size);
    REFERENCE_TIME start = props.start, stop = props.stop;
    out->SetTime(props.hasStart ? &start : nullptr, props.hasStop ? &stop : nullptr);
    LONGLONG mediaStart = props.mediaStart, mediaStop = props.mediaStop;
    out->SetMediaTime(props.hasMediaTime ? &mediaStart : nullptr,
                      props.hasMediaTime ? &mediaStop : nullptr);
    out->SetSyncPoint(props.syncPoint ? TRUE : FALSE);
    out->SetPreroll(props.preroll ? TRUE : FALSE);
    out->SetDiscontinuity(props.discontinuity ? TRUE : FALSE);
    return m_output->Deliver(out.Get());
}
