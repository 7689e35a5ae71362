// DirectShow structures and interfaces, declared as in strmif.h.
#pragma once

#include "framework/platform/posix/com_interfaces.h"

struct AM_MEDIA_TYPE {
    GUID majortype;
    GUID subtype;
    BOOL bFixedSizeSamples;
    BOOL bTemporalCompression;
    ULONG lSampleSize;
    GUID formattype;
    IUnknown* pUnk;
    ULONG cbFormat;
    BYTE* pbFormat;
};

struct ALLOCATOR_PROPERTIES {
    LONG cBuffers;
    LONG cbBuffer;
    LONG cbAlign;
    LONG cbPrefix;
};

struct IMediaSample : IUnknown {
    STDMETHOD(GetPointer)(BYTE** ppBuffer) = 0;
    STDMETHOD_(LONG, GetSize)() = 0;
    STDMETHOD(GetTime)(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) = 0;
    STDMETHOD(SetTime)(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) = 0;
    STDMETHOD(IsSyncPoint)() = 0;
    STDMETHOD(SetSyncPoint)(BOOL bIsSyncPoint) = 0;
    STDMETHOD(IsPreroll)() = 0;
    STDMETHOD(SetPreroll)(BOOL bIsPreroll) = 0;
    STDMETHOD_(LONG, GetActualDataLength)() = 0;
    STDMETHOD(SetActualDataLength)(LONG length) = 0;
    STDMETHOD(GetMediaType)(AM_MEDIA_TYPE** ppMediaType) = 0;
    STDMETHOD(SetMediaType)(AM_MEDIA_TYPE* pMediaType) = 0;
    STDMETHOD(IsDiscontinuity)() = 0;
    STDMETHOD(SetDiscontinuity)(BOOL bDiscontinuity) = 0;
    STDMETHOD(GetMediaTime)(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) = 0;
    STDMETHOD(SetMediaTime)(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) = 0;

protected:
    ~IMediaSample() = default;
};

enum tagAM_SAMPLE_PROPERTY_FLAGS {
    AM_SAMPLE_SPLICEPOINT = 0x1,
    AM_SAMPLE_PREROLL = 0x2,
    AM_SAMPLE_DATADISCONTINUITY = 0x4,
    AM_SAMPLE_TYPECHANGED = 0x8,
    AM_SAMPLE_TIMEVALID = 0x10,
    AM_SAMPLE_TIMEDISCONTINUITY = 0x40,
    AM_SAMPLE_FLUSH_ON_PAUSE = 0x80,
    AM_SAMPLE_STOPVALID = 0x100,
    AM_SAMPLE_ENDOFSTREAM = 0x200,
    AM_STREAM_MEDIA = 0,
    AM_STREAM_CONTROL = 1
};

struct AM_SAMPLE2_PROPERTIES {
    DWORD cbData;
    DWORD dwTypeSpecificFlags;
    DWORD dwSampleFlags;
    LONG lActual;
    REFERENCE_TIME tStart;
    REFERENCE_TIME tStop;
    DWORD dwStreamId;
    AM_MEDIA_TYPE* pMediaType;
    BYTE* pbBuffer;
    LONG cbBuffer;
};

struct IMediaSample2 : IMediaSample {
    STDMETHOD(GetProperties)(DWORD cbProperties, BYTE* pbProperties) = 0;
    STDMETHOD(SetProperties)(DWORD cbProperties, const BYTE* pbProperties) = 0;

protected:
    ~IMediaSample2() = default;
};

// IMemAllocator::GetBuffer flags.
#define AM_GBF_PREVFRAMESKIPPED 1
#define AM_GBF_NOTASYNCPOINT 2
#define AM_GBF_NOWAIT 4
#define AM_GBF_NODDSURFACELOCK 8

struct IMemAllocator : IUnknown {
    STDMETHOD(SetProperties)(ALLOCATOR_PROPERTIES* pRequest, ALLOCATOR_PROPERTIES* pActual) = 0;
    STDMETHOD(GetProperties)(ALLOCATOR_PROPERTIES* pProps) = 0;
    STDMETHOD(Commit)() = 0;
    STDMETHOD(Decommit)() = 0;
    STDMETHOD(GetBuffer)
    (IMediaSample** ppBuffer, REFERENCE_TIME* pStartTime, REFERENCE_TIME* pEndTime,
     DWORD dwFlags) = 0;
    STDMETHOD(ReleaseBuffer)(IMediaSample* pBuffer) = 0;

protected:
    ~IMemAllocator() = default;
};
