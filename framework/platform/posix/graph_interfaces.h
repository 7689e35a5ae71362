// Filter graph manager interfaces for hosts, declared as in strmif.h, control.h and
// oaidl.h: IDispatch (automation is not available; only its slots are declared),
// IMediaControl, IMediaEvent, IMediaEventEx and IGraphBuilder.
#pragma once

#include "framework/platform/posix/com_interfaces.h"
#include "framework/platform/posix/filter_interfaces.h"

typedef DWORD LCID;
typedef LONG DISPID;
typedef LONG OAFilterState;
typedef LONG_PTR OAHWND;
typedef LONG_PTR OAEVENT;

struct ITypeInfo;
struct tagDISPPARAMS;
struct tagVARIANT;
struct tagEXCEPINFO;
typedef tagDISPPARAMS DISPPARAMS;
typedef tagVARIANT VARIANT;
typedef tagEXCEPINFO EXCEPINFO;

struct IDispatch : IUnknown {
    STDMETHOD(GetTypeInfoCount)(UINT* pctinfo) = 0;
    STDMETHOD(GetTypeInfo)(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) = 0;
    STDMETHOD(GetIDsOfNames)
    (REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId) = 0;
    STDMETHOD(Invoke)
    (DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
     VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) = 0;

protected:
    ~IDispatch() = default;
};

struct IMediaControl : IDispatch {
    STDMETHOD(Run)() = 0;
    STDMETHOD(Pause)() = 0;
    STDMETHOD(Stop)() = 0;
    STDMETHOD(GetState)(LONG msTimeout, OAFilterState* pfs) = 0;
    STDMETHOD(RenderFile)(BSTR strFilename) = 0;
    STDMETHOD(AddSourceFilter)(BSTR strFilename, IDispatch** ppUnk) = 0;
    STDMETHOD(get_FilterCollection)(IDispatch** ppUnk) = 0;
    STDMETHOD(get_RegFilterCollection)(IDispatch** ppUnk) = 0;
    STDMETHOD(StopWhenReady)() = 0;

protected:
    ~IMediaControl() = default;
};

struct IMediaEvent : IDispatch {
    STDMETHOD(GetEventHandle)(OAEVENT* hEvent) = 0;
    STDMETHOD(GetEvent)(LONG* lEventCode, LONG_PTR* lParam1, LONG_PTR* lParam2, LONG msTimeout) = 0;
    STDMETHOD(WaitForCompletion)(LONG msTimeout, LONG* pEvCode) = 0;
    STDMETHOD(CancelDefaultHandling)(LONG lEvCode) = 0;
    STDMETHOD(RestoreDefaultHandling)(LONG lEvCode) = 0;
    STDMETHOD(FreeEventParams)(LONG lEvCode, LONG_PTR lParam1, LONG_PTR lParam2) = 0;

protected:
    ~IMediaEvent() = default;
};

// IMediaEventEx::SetNotifyFlags: events are not queued.
#define AM_MEDIAEVENT_NONOTIFY 0x01

struct IMediaEventEx : IMediaEvent {
    STDMETHOD(SetNotifyWindow)(OAHWND hwnd, LONG lMsg, LONG_PTR lInstanceData) = 0;
    STDMETHOD(SetNotifyFlags)(LONG lNoNotifyFlags) = 0;
    STDMETHOD(GetNotifyFlags)(LONG* lplNoNotifyFlags) = 0;

protected:
    ~IMediaEventEx() = default;
};

struct IGraphBuilder : IFilterGraph {
    STDMETHOD(Connect)(IPin* ppinOut, IPin* ppinIn) = 0;
    STDMETHOD(Render)(IPin* ppinOut) = 0;
    STDMETHOD(RenderFile)(LPCWSTR lpcwstrFile, LPCWSTR lpcwstrPlayList) = 0;
    STDMETHOD(AddSourceFilter)
    (LPCWSTR lpcwstrFileName, LPCWSTR lpcwstrFilterName, IBaseFilter** ppFilter) = 0;
    STDMETHOD(SetLogFile)(DWORD_PTR hFile) = 0;
    STDMETHOD(Abort)() = 0;
    STDMETHOD(ShouldOperationContinue)() = 0;

protected:
    ~IGraphBuilder() = default;
};
