#include "framework/media_sample.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "framework/media_type.h"

namespace {

// Flags SetProperties may change; AM_SAMPLE_TYPECHANGED follows the media type.
constexpr DWORD kSettableFlags = AM_SAMPLE_SPLICEPOINT | AM_SAMPLE_PREROLL |
                                 AM_SAMPLE_DATADISCONTINUITY | AM_SAMPLE_TIMEVALID |
                                 AM_SAMPLE_TIMEDISCONTINUITY | AM_SAMPLE_FLUSH_ON_PAUSE |
                                 AM_SAMPLE_STOPVALID | AM_SAMPLE_ENDOFSTREAM;

// True when the leading cb bytes of the properties hold the whole field at offset/size.
bool Covers(DWORD cb, size_t offset, size_t size) {
    return cb >= offset + size;
}

#define KVSSF_COVERS(cb, field)                                                                    \
    Covers(cb, offsetof(AM_SAMPLE2_PROPERTIES, field), sizeof(AM_SAMPLE2_PROPERTIES::field))

void SetFlag(DWORD* flags, DWORD flag, BOOL on) {
    *flags = on ? (*flags | flag) : (*flags & ~flag);
}

} // namespace

CMediaSample::CMediaSample(IMemAllocator* allocator, BYTE* buffer, LONG length)
    : m_pAllocator(allocator), m_pBuffer(buffer), m_cbBuffer(length), m_lActual(length) {}

CMediaSample::~CMediaSample() {
    DeleteMediaType(m_pMediaType);
}

void CMediaSample::FinalRelease() {
    if (m_pAllocator != nullptr) {
        ClearProperties();
        // The allocator may free this sample before the call returns.
        m_pAllocator->ReleaseBuffer(this);
    } else {
        CUnknownImpl::FinalRelease();
    }
}

void CMediaSample::ClearProperties() {
    DeleteMediaType(m_pMediaType);
    m_pMediaType = nullptr;
    m_dwFlags = 0;
    m_dwTypeSpecificFlags = 0;
    m_dwStreamId = AM_STREAM_MEDIA;
    m_bMediaTimeValid = false;
}

HRESULT CMediaSample::SetPointer(BYTE* buffer, LONG length) {
    if (length < 0)
        return E_INVALIDARG;
    m_pBuffer = buffer;
    m_cbBuffer = length;
    m_lActual = length;
    return S_OK;
}

STDMETHODIMP CMediaSample::GetPointer(BYTE** ppBuffer) {
    if (ppBuffer == nullptr)
        return E_POINTER;
    *ppBuffer = m_pBuffer;
    return S_OK;
}

STDMETHODIMP_(LONG) CMediaSample::GetSize() {
    return m_cbBuffer;
}

STDMETHODIMP CMediaSample::GetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) {
    if (pTimeStart == nullptr || pTimeEnd == nullptr)
        return E_POINTER;
    if (!(m_dwFlags & AM_SAMPLE_TIMEVALID))
        return VFW_E_SAMPLE_TIME_NOT_SET;
    *pTimeStart = m_rtStart;
    if (!(m_dwFlags & AM_SAMPLE_STOPVALID)) {
        *pTimeEnd = m_rtStart + 1;
        return VFW_S_NO_STOP_TIME;
    }
    *pTimeEnd = m_rtEnd;
    return S_OK;
}

STDMETHODIMP CMediaSample::SetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) {
    m_dwFlags &= ~(AM_SAMPLE_TIMEVALID | AM_SAMPLE_STOPVALID);
    if (pTimeStart == nullptr)
        return S_OK;
    m_rtStart = *pTimeStart;
    m_dwFlags |= AM_SAMPLE_TIMEVALID;
    if (pTimeEnd != nullptr) {
        m_rtEnd = *pTimeEnd;
        m_dwFlags |= AM_SAMPLE_STOPVALID;
    }
    return S_OK;
}

STDMETHODIMP CMediaSample::IsSyncPoint() {
    return (m_dwFlags & AM_SAMPLE_SPLICEPOINT) ? S_OK : S_FALSE;
}

STDMETHODIMP CMediaSample::SetSyncPoint(BOOL bIsSyncPoint) {
    SetFlag(&m_dwFlags, AM_SAMPLE_SPLICEPOINT, bIsSyncPoint);
    return S_OK;
}

STDMETHODIMP CMediaSample::IsPreroll() {
    return (m_dwFlags & AM_SAMPLE_PREROLL) ? S_OK : S_FALSE;
}

STDMETHODIMP CMediaSample::SetPreroll(BOOL bIsPreroll) {
    SetFlag(&m_dwFlags, AM_SAMPLE_PREROLL, bIsPreroll);
    return S_OK;
}

STDMETHODIMP_(LONG) CMediaSample::GetActualDataLength() {
    return m_lActual;
}

STDMETHODIMP CMediaSample::SetActualDataLength(LONG length) {
    if (length > m_cbBuffer)
        return VFW_E_BUFFER_OVERFLOW;
    if (length < 0)
        return E_INVALIDARG;
    m_lActual = length;
    return S_OK;
}

STDMETHODIMP CMediaSample::GetMediaType(AM_MEDIA_TYPE** ppMediaType) {
    if (ppMediaType == nullptr)
        return E_POINTER;
    *ppMediaType = nullptr;
    if (m_pMediaType == nullptr)
        return S_FALSE;
    *ppMediaType = CreateMediaType(m_pMediaType);
    return *ppMediaType != nullptr ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CMediaSample::SetMediaType(AM_MEDIA_TYPE* pMediaType) {
    AM_MEDIA_TYPE* copy = nullptr;
    if (pMediaType != nullptr) {
        copy = CreateMediaType(pMediaType);
        if (copy == nullptr)
            return E_OUTOFMEMORY;
    }
    DeleteMediaType(m_pMediaType);
    m_pMediaType = copy;
    SetFlag(&m_dwFlags, AM_SAMPLE_TYPECHANGED, copy != nullptr);
    return S_OK;
}

STDMETHODIMP CMediaSample::IsDiscontinuity() {
    return (m_dwFlags & AM_SAMPLE_DATADISCONTINUITY) ? S_OK : S_FALSE;
}

STDMETHODIMP CMediaSample::SetDiscontinuity(BOOL bDiscontinuity) {
    SetFlag(&m_dwFlags, AM_SAMPLE_DATADISCONTINUITY, bDiscontinuity);
    return S_OK;
}

STDMETHODIMP CMediaSample::GetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) {
    if (pTimeStart == nullptr || pTimeEnd == nullptr)
        return E_POINTER;
    if (!m_bMediaTimeValid)
        return VFW_E_MEDIA_TIME_NOT_SET;
    *pTimeStart = m_llMediaStart;
    *pTimeEnd = m_llMediaEnd;
    return S_OK;
}

STDMETHODIMP CMediaSample::SetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) {
    if (pTimeStart == nullptr || pTimeEnd == nullptr) {
        m_bMediaTimeValid = false;
        return S_OK;
    }
    m_llMediaStart = *pTimeStart;
    m_llMediaEnd = *pTimeEnd;
    m_bMediaTimeValid = true;
    return S_OK;
}

STDMETHODIMP CMediaSample::GetProperties(DWORD cbProperties, BYTE* pbProperties) {
    if (cbProperties == 0)
        return S_OK;
    if (pbProperties == nullptr)
        return E_POINTER;
    AM_SAMPLE2_PROPERTIES properties{};
    properties.cbData = std::min<DWORD>(cbProperties, sizeof(properties));
    properties.dwTypeSpecificFlags = m_dwTypeSpecificFlags;
    properties.dwSampleFlags = m_dwFlags;
    properties.lActual = m_lActual;
    properties.tStart = m_rtStart;
    properties.tStop = m_rtEnd;
    properties.dwStreamId = m_dwStreamId;
    properties.pMediaType = m_pMediaType;
    properties.pbBuffer = m_pBuffer;
    properties.cbBuffer = m_cbBuffer;
    std::memcpy(pbProperties, &properties, properties.cbData);
    return S_OK;
}

STDMETHODIMP CMediaSample::SetProperties(DWORD cbProperties, const BYTE* pbProperties) {
    if (cbProperties == 0)
        return S_OK;
    if (pbProperties == nullptr)
        return E_POINTER;
    if (cbProperties > sizeof(AM_SAMPLE2_PROPERTIES))
        return E_INVALIDARG;
    AM_SAMPLE2_PROPERTIES properties{};
    std::memcpy(&properties, pbProperties, cbProperties);

    // Everything is checked before anything changes.
    if (KVSSF_COVERS(cbProperties, pbBuffer) && properties.pbBuffer != nullptr &&
        properties.pbBuffer != m_pBuffer)
        return E_INVALIDARG;
    if (KVSSF_COVERS(cbProperties, cbBuffer) && properties.cbBuffer != 0 &&
        properties.cbBuffer != m_cbBuffer)
        return E_INVALIDARG;
    if (KVSSF_COVERS(cbProperties, lActual) &&
        (properties.lActual < 0 || properties.lActual > m_cbBuffer))
        return E_INVALIDARG;
    const bool typeGiven = KVSSF_COVERS(cbProperties, dwSampleFlags) &&
                           (properties.dwSampleFlags & AM_SAMPLE_TYPECHANGED);
    if (typeGiven && !KVSSF_COVERS(cbProperties, pMediaType))
        return E_INVALIDARG;
    if (typeGiven && properties.pMediaType == nullptr)
        return E_POINTER;
    if (typeGiven && properties.pMediaType != m_pMediaType) {
        const HRESULT hr = SetMediaType(properties.pMediaType);
        if (FAILED(hr))
            return hr;
    }

    if (KVSSF_COVERS(cbProperties, dwTypeSpecificFlags))
        m_dwTypeSpecificFlags = properties.dwTypeSpecificFlags;
    if (KVSSF_COVERS(cbProperties, dwSampleFlags)) {
        if (!typeGiven)
            SetMediaType(nullptr);
        m_dwFlags =
            (properties.dwSampleFlags & kSettableFlags) | (m_dwFlags & AM_SAMPLE_TYPECHANGED);
    }
    if (KVSSF_COVERS(cbProperties, lActual))
        m_lActual = properties.lActual;
    if (KVSSF_COVERS(cbProperties, tStart))
        m_rtStart = properties.tStart;
    if (KVSSF_COVERS(cbProperties, tStop))
        m_rtEnd = properties.tStop;
    if (KVSSF_COVERS(cbProperties, dwStreamId))
        m_dwStreamId = properties.dwStreamId;
    return S_OK;
}
