// DirectShow filter, pin and graph interfaces, declared as in strmif.h, with the
// constants of evcode.h that filters raise.
#pragma once

#include <cstdint>

#include "framework/platform/posix/com_interfaces.h"
#include "framework/platform/posix/dshow_interfaces.h"

typedef int64_t LONG_PTR;
typedef uint64_t ULONG_PTR;
typedef ULONG_PTR DWORD_PTR;
typedef double REFTIME;
typedef OLECHAR* LPOLESTR;
typedef const OLECHAR* LPCOLESTR;
typedef DWORD_PTR HSEMAPHORE;
typedef DWORD_PTR HEVENT;

#define MAX_PIN_NAME 128
#define MAX_FILTER_NAME 128

struct IBaseFilter;
struct IFilterGraph;
struct IEnumFilters;
struct IEnumMediaTypes;
struct IEnumPins;
struct IPin;
struct IReferenceClock;

enum PIN_DIRECTION { PINDIR_INPUT = 0, PINDIR_OUTPUT = 1 };

struct PIN_INFO {
    IBaseFilter* pFilter;
    PIN_DIRECTION dir;
    WCHAR achName[MAX_PIN_NAME];
};

enum FILTER_STATE { State_Stopped = 0, State_Paused = 1, State_Running = 2 };

struct FILTER_INFO {
    WCHAR achName[MAX_FILTER_NAME];
    IFilterGraph* pGraph;
};

enum QualityMessageType { Famine = 0, Flood = 1 };

struct Quality {
    QualityMessageType Type;
    LONG Proportion;
    REFERENCE_TIME Late;
    REFERENCE_TIME TimeStamp;
};

struct IPersist : IUnknown {
    STDMETHOD(GetClassID)(CLSID* pClassID) = 0;

protected:
    ~IPersist() = default;
};

struct IReferenceClock : IUnknown {
    STDMETHOD(GetTime)(REFERENCE_TIME* pTime) = 0;
    STDMETHOD(AdviseTime)
    (REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, HEVENT hEvent,
     DWORD_PTR* pdwAdviseCookie) = 0;
    STDMETHOD(AdvisePeriodic)
    (REFERENCE_TIME startTime, REFERENCE_TIME periodTime, HSEMAPHORE hSemaphore,
     DWORD_PTR* pdwAdviseCookie) = 0;
    STDMETHOD(Unadvise)(DWORD_PTR dwAdviseCookie) = 0;

protected:
    ~IReferenceClock() = default;
};

struct IMediaFilter : IPersist {
    STDMETHOD(Stop)() = 0;
    STDMETHOD(Pause)() = 0;
    STDMETHOD(Run)(REFERENCE_TIME tStart) = 0;
    STDMETHOD(GetState)(DWORD dwMilliSecsTimeout, FILTER_STATE* State) = 0;
    STDMETHOD(SetSyncSource)(IReferenceClock* pClock) = 0;
    STDMETHOD(GetSyncSource)(IReferenceClock** pClock) = 0;

protected:
    ~IMediaFilter() = default;
};

struct IBaseFilter : IMediaFilter {
    STDMETHOD(EnumPins)(IEnumPins** ppEnum) = 0;
    STDMETHOD(FindPin)(LPCWSTR Id, IPin** ppPin) = 0;
    STDMETHOD(QueryFilterInfo)(FILTER_INFO* pInfo) = 0;
    STDMETHOD(JoinFilterGraph)(IFilterGraph* pGraph, LPCWSTR pName) = 0;
    STDMETHOD(QueryVendorInfo)(LPWSTR* pVendorInfo) = 0;

protected:
    ~IBaseFilter() = default;
};

struct IPin : IUnknown {
    STDMETHOD(Connect)(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) = 0;
    STDMETHOD(ReceiveConnection)(IPin* pConnector, const AM_MEDIA_TYPE* pmt) = 0;
    STDMETHOD(Disconnect)() = 0;
    STDMETHOD(ConnectedTo)(IPin** pPin) = 0;
    STDMETHOD(ConnectionMediaType)(AM_MEDIA_TYPE* pmt) = 0;
    STDMETHOD(QueryPinInfo)(PIN_INFO* pInfo) = 0;
    STDMETHOD(QueryDirection)(PIN_DIRECTION* pPinDir) = 0;
    STDMETHOD(QueryId)(LPWSTR* Id) = 0;
    STDMETHOD(QueryAccept)(const AM_MEDIA_TYPE* pmt) = 0;
    STDMETHOD(EnumMediaTypes)(IEnumMediaTypes** ppEnum) = 0;
    STDMETHOD(QueryInternalConnections)(IPin** apPin, ULONG* nPin) = 0;
    STDMETHOD(EndOfStream)() = 0;
    STDMETHOD(BeginFlush)() = 0;
    STDMETHOD(EndFlush)() = 0;
    STDMETHOD(NewSegment)(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) = 0;

protected:
    ~IPin() = default;
};

struct IEnumPins : IUnknown {
    STDMETHOD(Next)(ULONG cPins, IPin** ppPins, ULONG* pcFetched) = 0;
    STDMETHOD(Skip)(ULONG cPins) = 0;
    STDMETHOD(Reset)() = 0;
    STDMETHOD(Clone)(IEnumPins** ppEnum) = 0;

protected:
    ~IEnumPins() = default;
};

struct IEnumMediaTypes : IUnknown {
    STDMETHOD(Next)(ULONG cMediaTypes, AM_MEDIA_TYPE** ppMediaTypes, ULONG* pcFetched) = 0;
    STDMETHOD(Skip)(ULONG cMediaTypes) = 0;
    STDMETHOD(Reset)() = 0;
    STDMETHOD(Clone)(IEnumMediaTypes** ppEnum) = 0;

protected:
    ~IEnumMediaTypes() = default;
};

struct IEnumFilters : IUnknown {
    STDMETHOD(Next)(ULONG cFilters, IBaseFilter** ppFilter, ULONG* pcFetched) = 0;
    STDMETHOD(Skip)(ULONG cFilters) = 0;
    STDMETHOD(Reset)() = 0;
    STDMETHOD(Clone)(IEnumFilters** ppEnum) = 0;

protected:
    ~IEnumFilters() = default;
};

struct IFilterGraph : IUnknown {
    STDMETHOD(AddFilter)(IBaseFilter* pFilter, LPCWSTR pName) = 0;
    STDMETHOD(RemoveFilter)(IBaseFilter* pFilter) = 0;
    STDMETHOD(EnumFilters)(IEnumFilters** ppEnum) = 0;
    STDMETHOD(FindFilterByName)(LPCWSTR pName, IBaseFilter** ppFilter) = 0;
    STDMETHOD(ConnectDirect)(IPin* ppinOut, IPin* ppinIn, const AM_MEDIA_TYPE* pmt) = 0;
    STDMETHOD(Reconnect)(IPin* ppin) = 0;
    STDMETHOD(Disconnect)(IPin* ppin) = 0;
    STDMETHOD(SetDefaultSyncSource)() = 0;

protected:
    ~IFilterGraph() = default;
};

struct IMemInputPin : IUnknown {
    STDMETHOD(GetAllocator)(IMemAllocator** ppAllocator) = 0;
    STDMETHOD(NotifyAllocator)(IMemAllocator* pAllocator, BOOL bReadOnly) = 0;
    STDMETHOD(GetAllocatorRequirements)(ALLOCATOR_PROPERTIES* pProps) = 0;
    STDMETHOD(Receive)(IMediaSample* pSample) = 0;
    STDMETHOD(ReceiveMultiple)
    (IMediaSample** pSamples, LONG nSamples, LONG* nSamplesProcessed) = 0;
    STDMETHOD(ReceiveCanBlock)() = 0;

protected:
    ~IMemInputPin() = default;
};

struct IQualityControl : IUnknown {
    STDMETHOD(Notify)(IBaseFilter* pSelf, Quality q) = 0;
    STDMETHOD(SetSink)(IQualityControl* piqc) = 0;

protected:
    ~IQualityControl() = default;
};

enum AM_SEEKING_SEEKING_FLAGS {
    AM_SEEKING_NoPositioning = 0x0,
    AM_SEEKING_AbsolutePositioning = 0x1,
    AM_SEEKING_RelativePositioning = 0x2,
    AM_SEEKING_IncrementalPositioning = 0x3,
    AM_SEEKING_PositioningBitsMask = 0x3,
    AM_SEEKING_SeekToKeyFrame = 0x4,
    AM_SEEKING_ReturnTime = 0x8,
    AM_SEEKING_Segment = 0x10,
    AM_SEEKING_NoFlush = 0x20
};

enum AM_SEEKING_SEEKING_CAPABILITIES {
    AM_SEEKING_CanSeekAbsolute = 0x1,
    AM_SEEKING_CanSeekForwards = 0x2,
    AM_SEEKING_CanSeekBackwards = 0x4,
    AM_SEEKING_CanGetCurrentPos = 0x8,
    AM_SEEKING_CanGetStopPos = 0x10,
    AM_SEEKING_CanGetDuration = 0x20,
    AM_SEEKING_CanPlayBackwards = 0x40,
    AM_SEEKING_CanDoSegments = 0x80,
    AM_SEEKING_Source = 0x100
};

struct IMediaSeeking : IUnknown {
    STDMETHOD(GetCapabilities)(DWORD* pCapabilities) = 0;
    STDMETHOD(CheckCapabilities)(DWORD* pCapabilities) = 0;
    STDMETHOD(IsFormatSupported)(const GUID* pFormat) = 0;
    STDMETHOD(QueryPreferredFormat)(GUID* pFormat) = 0;
    STDMETHOD(GetTimeFormat)(GUID* pFormat) = 0;
    STDMETHOD(IsUsingTimeFormat)(const GUID* pFormat) = 0;
    STDMETHOD(SetTimeFormat)(const GUID* pFormat) = 0;
    STDMETHOD(GetDuration)(LONGLONG* pDuration) = 0;
    STDMETHOD(GetStopPosition)(LONGLONG* pStop) = 0;
    STDMETHOD(GetCurrentPosition)(LONGLONG* pCurrent) = 0;
    STDMETHOD(ConvertTimeFormat)
    (LONGLONG* pTarget, const GUID* pTargetFormat, LONGLONG Source, const GUID* pSourceFormat) = 0;
    STDMETHOD(SetPositions)
    (LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop, DWORD dwStopFlags) = 0;
    STDMETHOD(GetPositions)(LONGLONG* pCurrent, LONGLONG* pStop) = 0;
    STDMETHOD(GetAvailable)(LONGLONG* pEarliest, LONGLONG* pLatest) = 0;
    STDMETHOD(SetRate)(double dRate) = 0;
    STDMETHOD(GetRate)(double* pdRate) = 0;
    STDMETHOD(GetPreroll)(LONGLONG* pllPreroll) = 0;

protected:
    ~IMediaSeeking() = default;
};

struct IFileSourceFilter : IUnknown {
    STDMETHOD(Load)(LPCOLESTR pszFileName, const AM_MEDIA_TYPE* pmt) = 0;
    STDMETHOD(GetCurFile)(LPOLESTR* ppszFileName, AM_MEDIA_TYPE* pmt) = 0;

protected:
    ~IFileSourceFilter() = default;
};

struct IMediaEventSink : IUnknown {
    STDMETHOD(Notify)(LONG EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2) = 0;

protected:
    ~IMediaEventSink() = default;
};

enum _AM_FILTER_MISC_FLAGS {
    AM_FILTER_MISC_FLAGS_IS_RENDERER = 0x1,
    AM_FILTER_MISC_FLAGS_IS_SOURCE = 0x2
};

struct IAMFilterMiscFlags : IUnknown {
    STDMETHOD_(ULONG, GetMiscFlags)() = 0;

protected:
    ~IAMFilterMiscFlags() = default;
};

struct IAMOpenProgress : IUnknown {
    STDMETHOD(QueryProgress)(LONGLONG* pllTotal, LONGLONG* pllCurrent) = 0;
    STDMETHOD(AbortOperation)() = 0;

protected:
    ~IAMOpenProgress() = default;
};

// Event codes (evcode.h).
#define EC_SYSTEMBASE 0x00
#define EC_USER 0x8000
#define EC_COMPLETE 0x01
#define EC_USERABORT 0x02
#define EC_ERRORABORT 0x03
#define EC_TIME 0x04
#define EC_REPAINT 0x05
#define EC_STREAM_ERROR_STOPPED 0x06
#define EC_STREAM_ERROR_STILLPLAYING 0x07
#define EC_ERROR_STILLPLAYING 0x08
#define EC_PALETTE_CHANGED 0x09
#define EC_VIDEO_SIZE_CHANGED 0x0A
#define EC_QUALITY_CHANGE 0x0B
#define EC_SHUTTING_DOWN 0x0C
#define EC_CLOCK_CHANGED 0x0D
#define EC_PAUSED 0x0E
#define EC_OPENING_FILE 0x10
#define EC_BUFFERING_DATA 0x11
#define EC_FULLSCREEN_LOST 0x12
#define EC_ACTIVATE 0x13
#define EC_NEED_RESTART 0x14
#define EC_WINDOW_DESTROYED 0x15
#define EC_DISPLAY_CHANGED 0x16
#define EC_STARVATION 0x17
#define EC_OLE_EVENT 0x18
#define EC_NOTIFY_WINDOW 0x19
#define EC_STREAM_CONTROL_STOPPED 0x1A
#define EC_STREAM_CONTROL_STARTED 0x1B
#define EC_END_OF_SEGMENT 0x1C
#define EC_SEGMENT_STARTED 0x1D
#define EC_LENGTH_CHANGED 0x1E
#define EC_STEP_COMPLETE 0x24
#define EC_DEVICE_LOST 0x1F
#define EC_STATE_CHANGE 0x32
#define EC_GRAPH_CHANGED 0x50
#define EC_CLOCK_UNSET 0x51
