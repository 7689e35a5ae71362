// CMediaSample: a media sample over a buffer it does not own, with the IMediaSample and
// IMediaSample2 properties. A sample is used by one thread at a time; it is not locked.
#pragma once

#include "framework/platform/platform.h"
#include "framework/platform/unknown_impl.h"

class CMediaSample
    : public CUnknownImpl<ComInterface<IMediaSample2, IID_IMediaSample2, IID_IMediaSample>> {
public:
    // A sample over length bytes at buffer. With an allocator, the last Release clears
    // the sample's properties and hands it back through IMemAllocator::ReleaseBuffer
    // (the allocator owns it); without one, the last Release deletes it.
    CMediaSample(IMemAllocator* allocator, BYTE* buffer, LONG length);
    ~CMediaSample() override;

    // IMediaSample
    STDMETHODIMP GetPointer(BYTE** ppBuffer) override;
    STDMETHODIMP_(LONG) GetSize() override;
    // S_OK with both times; VFW_S_NO_STOP_TIME with the start only (stop = start + 1);
    // VFW_E_SAMPLE_TIME_NOT_SET without times.
    STDMETHODIMP GetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) override;
    // A null start clears both times; a null end keeps only the start.
    STDMETHODIMP SetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) override;
    STDMETHODIMP IsSyncPoint() override;
    STDMETHODIMP SetSyncPoint(BOOL bIsSyncPoint) override;
    STDMETHODIMP IsPreroll() override;
    STDMETHODIMP SetPreroll(BOOL bIsPreroll) override;
    STDMETHODIMP_(LONG) GetActualDataLength() override;
    // VFW_E_BUFFER_OVERFLOW beyond the buffer size, E_INVALIDARG below 0.
    STDMETHODIMP SetActualDataLength(LONG length) override;
    // S_FALSE (and null) without a media type; otherwise a CreateMediaType copy for the
    // caller to DeleteMediaType.
    STDMETHODIMP GetMediaType(AM_MEDIA_TYPE** ppMediaType) override;
    // Null clears the media type.
    STDMETHODIMP SetMediaType(AM_MEDIA_TYPE* pMediaType) override;
    STDMETHODIMP IsDiscontinuity() override;
    STDMETHODIMP SetDiscontinuity(BOOL bDiscontinuity) override;
    // VFW_E_MEDIA_TIME_NOT_SET without media times.
    STDMETHODIMP GetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) override;
    // A null start or end clears the media times.
    STDMETHODIMP SetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) override;

    // IMediaSample2: the leading cbProperties bytes of AM_SAMPLE2_PROPERTIES. The media
    // type pointer handed out by GetProperties stays the sample's. SetProperties cannot
    // move the buffer: pbBuffer and cbBuffer must be 0 or the current values.
    STDMETHODIMP GetProperties(DWORD cbProperties, BYTE* pbProperties) override;
    STDMETHODIMP SetProperties(DWORD cbProperties, const BYTE* pbProperties) override;

    // Points the sample at another buffer; the actual length becomes length.
    HRESULT SetPointer(BYTE* buffer, LONG length);

protected:
    // Back to the state of a new sample, except for the buffer and actual length.
    void ClearProperties();
    // At a count of 0: back to the allocator with the properties cleared, or deleted.
    void FinalRelease() override;

private:
    CMediaSample(const CMediaSample&) = delete;
    CMediaSample& operator=(const CMediaSample&) = delete;

    IMemAllocator* const m_pAllocator; // not referenced: it owns this sample

    BYTE* m_pBuffer;
    LONG m_cbBuffer;
    LONG m_lActual;
    DWORD m_dwFlags = 0; // AM_SAMPLE_* flags
    DWORD m_dwTypeSpecificFlags = 0;
    DWORD m_dwStreamId = AM_STREAM_MEDIA;
    REFERENCE_TIME m_rtStart = 0;
    REFERENCE_TIME m_rtEnd = 0;
    bool m_bMediaTimeValid = false;
    LONGLONG m_llMediaStart = 0;
    LONGLONG m_llMediaEnd = 0;
    AM_MEDIA_TYPE* m_pMediaType = nullptr; // set exactly when AM_SAMPLE_TYPECHANGED is
};
