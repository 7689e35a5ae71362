#include "tests/wine/standins/resizer_dmo.h"

#include <new>

namespace {

using Guard = std::lock_guard<std::recursive_mutex>;

// Stream flags mingw-w64's <mediaobj.h> lacks.
constexpr DWORD kInputWholeSamples = 0x1, kInputSingleSamplePerBuffer = 0x2,
                kInputFixedSampleSize = 0x4, kInputHoldsBuffers = 0x8;
constexpr DWORD kOutputWholeSamples = 0x1, kOutputSingleSamplePerBuffer = 0x2,
                kOutputFixedSampleSize = 0x4;

// A stream index past the one stream of each direction.
bool BadStream(DWORD index) {
    return index != 0;
}

} // namespace

CResizerDmo::CResizerDmo(IUnknown* pOuter) : CUnknown(L"Resizer DMO", pOuter) {}

CResizerDmo::~CResizerDmo() {
    MoFreeMediaType(&m_input.type);
    MoFreeMediaType(&m_output.type);
}

HRESULT CResizerDmo::Create(IUnknown* pOuter, REFIID riid, void** ppv) {
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = nullptr;
    if (pOuter != nullptr && riid != IID_IUnknown)
        return CLASS_E_NOAGGREGATION;
    auto* dmo = new (std::nothrow) CResizerDmo(pOuter);
    if (dmo == nullptr)
        return E_OUTOFMEMORY;
    dmo->NonDelegatingAddRef();
    const HRESULT hr = dmo->NonDelegatingQueryInterface(riid, ppv);
    dmo->NonDelegatingRelease();
    return hr;
}

HRESULT CResizerDmo::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr)
        return E_POINTER;
    if (riid == IID_IMediaObject) {
        *ppv = static_cast<IMediaObject*>(this);
        AddRef();
        return S_OK;
    }
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CResizerDmo::GetStreamCount(DWORD* inputs, DWORD* outputs) {
    if (inputs == nullptr || outputs == nullptr)
        return E_POINTER;
    *inputs = *outputs = 1;
    return S_OK;
}

HRESULT CResizerDmo::GetInputStreamInfo(DWORD index, DWORD* flags) {
    if (BadStream(index))
        return DMO_E_INVALIDSTREAMINDEX;
    if (flags == nullptr)
        return E_POINTER;
    *flags = kInputWholeSamples | kInputSingleSamplePerBuffer | kInputFixedSampleSize |
             kInputHoldsBuffers;
    return S_OK;
}

HRESULT CResizerDmo::GetOutputStreamInfo(DWORD index, DWORD* flags) {
    if (BadStream(index))
        return DMO_E_INVALIDSTREAMINDEX;
    if (flags == nullptr)
        return E_POINTER;
    *flags = kOutputWholeSamples | kOutputSingleSamplePerBuffer | kOutputFixedSampleSize;
    return S_OK;
}

HRESULT CResizerDmo::GetInputType(DWORD index, DWORD, DMO_MEDIA_TYPE*) {
    // Any handled picture is taken; there is no preferred one to offer.
    return BadStream(index) ? DMO_E_INVALIDSTREAMINDEX : DMO_E_NO_MORE_ITEMS;
}

HRESULT CResizerDmo::GetOutputType(DWORD index, DWORD typeIndex, DMO_MEDIA_TYPE* type) {
    if (BadStream(index))
        return DMO_E_INVALIDSTREAMINDEX;
    Guard guard(m_lock);
    if (!m_input.set)
        return DMO_E_TYPE_NOT_SET;
    if (typeIndex > 0)
        return DMO_E_NO_MORE_ITEMS;
    return type != nullptr ? MoCopyMediaType(type, &m_input.type) : S_OK;
}

HRESULT CResizerDmo::SetType(Stream* stream, DWORD index, const DMO_MEDIA_TYPE* type, DWORD flags) {
    if (BadStream(index))
        return DMO_E_INVALIDSTREAMINDEX;
    Guard guard(m_lock);
    if (flags & DMO_SET_TYPEF_CLEAR) {
        MoFreeMediaType(&stream->type);
        stream->set = false;
        return S_OK;
    }
    if (type == nullptr)
        return E_POINTER;
    VideoPicture picture;
    if (!ReadVideoPicture(*reinterpret_cast<const AM_MEDIA_TYPE*>(type), &picture))
        return DMO_E_TYPE_NOT_ACCEPTED;
    if (flags & DMO_SET_TYPEF_TEST_ONLY)
        return S_OK;
    DMO_MEDIA_TYPE copy = {};
    const HRESULT hr = MoCopyMediaType(&copy, type);
    if (FAILED(hr))
        return hr;
    MoFreeMediaType(&stream->type);
    stream->type = copy;
    stream->picture = picture;
    stream->set = true;
    return S_OK;
}

HRESULT CResizerDmo::SetInputType(DWORD index, const DMO_MEDIA_TYPE* type, DWORD flags) {
    return SetType(&m_input, index, type, flags);
}

HRESULT CResizerDmo::SetOutputType(DWORD index, const DMO_MEDIA_TYPE* type, DWORD flags) {
    return SetType(&m_output, index, type, flags);
}

HRESULT CResizerDmo::GetInputCurrentType(DWORD index, DMO_MEDIA_TYPE* type) {
    if (BadStream(index))
        return DMO_E_INVALIDSTREAMINDEX;
    Guard guard(m_lock);
    return !m_input.set ? DMO_E_TYPE_NOT_SET : MoCopyMediaType(type, &m_input.type);
}

HRESULT CResizerDmo::GetOutputCurrentType(DWORD index, DMO_MEDIA_TYPE* type) {
    if (BadStream(index))
        return DMO_E_INVALIDSTREAMINDEX;
    Guard guard(m_lock);
    return !m_output.set ? DMO_E_TYPE_NOT_SET : MoCopyMediaType(type, &m_output.type);
}

HRESULT CResizerDmo::GetInputSizeInfo(DWORD index, DWORD* size, DWORD* lookahead,
                                      DWORD* alignment) {
    if (BadStream(index))
        return DMO_E_INVALIDSTREAMINDEX;
    if (size == nullptr || lookahead == nullptr || alignment == nullptr)
        return E_POINTER;
    Guard guard(m_lock);
    if (!m_input.set)
        return DMO_E_TYPE_NOT_SET;
    const VideoPicture& picture = m_input.picture;
    *size = DWORD(PictureSize(picture.subtype, picture.width, picture.height));
    *lookahead = 0;
    *alignment = 1;
    return S_OK;
}

HRESULT CResizerDmo::GetOutputSizeInfo(DWORD index, DWORD* size, DWORD* alignment) {
    if (BadStream(index))
        return DMO_E_INVALIDSTREAMINDEX;
    if (size == nullptr || alignment == nullptr)
        return E_POINTER;
    Guard guard(m_lock);
    if (!m_output.set)
        return DMO_E_TYPE_NOT_SET;
    const VideoPicture& picture = m_output.picture;
    *size = DWORD(PictureSize(picture.subtype, picture.width, picture.height));
    *alignment = 1;
    return S_OK;
}

HRESULT CResizerDmo::GetInputMaxLatency(DWORD, REFERENCE_TIME*) {
    return E_NOTIMPL;
}

HRESULT CResizerDmo::SetInputMaxLatency(DWORD, REFERENCE_TIME) {
    return E_NOTIMPL;
}

HRESULT CResizerDmo::Flush() {
    Guard guard(m_lock);
    m_pHeld.Reset();
    return S_OK;
}

HRESULT CResizerDmo::Discontinuity(DWORD index) {
    // Nothing is held across pictures.
    return BadStream(index) ? DMO_E_INVALIDSTREAMINDEX : S_OK;
}

HRESULT CResizerDmo::AllocateStreamingResources() {
    Guard guard(m_lock);
    return m_input.set && m_output.set ? S_OK : DMO_E_TYPE_NOT_SET;
}

HRESULT CResizerDmo::FreeStreamingResources() {
    return Flush();
}

HRESULT CResizerDmo::GetInputStatus(DWORD index, DWORD* flags) {
    if (BadStream(index))
        return DMO_E_INVALIDSTREAMINDEX;
    if (flags == nullptr)
        return E_POINTER;
    Guard guard(m_lock);
    *flags = m_pHeld ? 0 : DMO_INPUT_STATUSF_ACCEPT_DATA;
    return S_OK;
}

HRESULT CResizerDmo::ProcessInput(DWORD index, IMediaBuffer* buffer, DWORD flags,
                                  REFERENCE_TIME time, REFERENCE_TIME length) {
    if (BadStream(index))
        return DMO_E_INVALIDSTREAMINDEX;
    if (buffer == nullptr)
        return E_POINTER;
    Guard guard(m_lock);
    if (!m_input.set || !m_output.set)
        return DMO_E_TYPE_NOT_SET;
    if (m_pHeld)
        return DMO_E_NOTACCEPTING;
    m_pHeld = ComPtr<IMediaBuffer>(buffer);
    m_dwHeldFlags = flags;
    m_rtHeldTime = time;
    m_rtHeldLength = length;
    return S_OK;
}

HRESULT CResizerDmo::ProcessOutput(DWORD, DWORD count, DMO_OUTPUT_DATA_BUFFER* buffers,
                                   DWORD* status) {
    if (count != 1)
        return E_INVALIDARG;
    if (buffers == nullptr || status == nullptr)
        return E_POINTER;
    *status = 0;
    buffers[0].dwStatus = 0;
    Guard guard(m_lock);
    if (!m_pHeld)
        return S_FALSE;
    const ComPtr<IMediaBuffer> input = std::move(m_pHeld);
    if (buffers[0].pBuffer == nullptr)
        return E_POINTER;

    BYTE* inData = nullptr;
    DWORD inLength = 0;
    uint8_t* inPlanes[4];
    int inStrides[4];
    HRESULT hr = input->GetBufferAndLength(&inData, &inLength);
    if (FAILED(hr))
        return hr;
    if (!PicturePlanes(m_input.picture, inData, LONG(inLength), inPlanes, inStrides))
        return E_INVALIDARG;

    BYTE* outData = nullptr;
    DWORD outLength = 0, outMax = 0; // Wine's wrapper writes the length unasked
    uint8_t* outPlanes[4];
    int outStrides[4];
    const VideoPicture& picture = m_output.picture;
    if (FAILED(hr = buffers[0].pBuffer->GetBufferAndLength(&outData, &outLength)) ||
        FAILED(hr = buffers[0].pBuffer->GetMaxLength(&outMax)))
        return hr;
    if (!PicturePlanes(picture, outData, LONG(outMax), outPlanes, outStrides))
        return E_INVALIDARG;
    hr = m_scaler.Scale(inPlanes, inStrides, m_input.picture.width, m_input.picture.height,
                        m_input.picture.format, picture, outPlanes, outStrides);
    if (FAILED(hr))
        return hr;
    hr = buffers[0].pBuffer->SetLength(
        DWORD(PictureSize(picture.subtype, picture.width, picture.height)));
    if (FAILED(hr))
        return hr;
    // The input flags have the output flags' values.
    buffers[0].dwStatus =
        m_dwHeldFlags & (DMO_OUTPUT_DATA_BUFFERF_SYNCPOINT | DMO_OUTPUT_DATA_BUFFERF_TIME |
                         DMO_OUTPUT_DATA_BUFFERF_TIMELENGTH);
    buffers[0].rtTimestamp = m_rtHeldTime;
    buffers[0].rtTimelength = m_rtHeldLength;
    return S_OK;
}

HRESULT CResizerDmo::Lock(LONG) {
    return S_OK;
}
