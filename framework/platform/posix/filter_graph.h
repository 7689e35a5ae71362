// CFilterGraph: the filter graph manager (CLSID_FilterGraph) of the POSIX platform.
//
// It holds the filters of one graph and drives them as a whole: direct connection,
// state changes applied downstream first (renderers before sources), the graph clock,
// the event queue with the end-of-stream rule for renderers, and seeking forwarded to
// the filters that expose IMediaSeeking. It does what the play hosts and the video
// processor call; every other method of its interfaces answers E_NOTIMPL (no
// intelligent connect, rendering, filter registry, IDispatch, event handle or window,
// completion wait, event flags, filter lookup by name, time formats or rates).
//
// Renderers: filters with input pins and no output pins, and filters whose
// IAMFilterMiscFlags report AM_FILTER_MISC_FLAGS_IS_RENDERER. After Run, the host gets one
// EC_COMPLETE (status, 0) once every renderer has reported EC_COMPLETE (a report whose
// second parameter is 0 counts for one renderer that has not reported yet; a report from
// a filter that is not a renderer is dropped); with no renderer it is queued at Run.
// EC_COMPLETE reported while the graph is not running is dropped. Every other event code
// reaches the host unchanged.
//
// Clock: until SetSyncSource is called, the first Pause or Run from stopped chooses the
// default clock (SetDefaultSyncSource). SetSyncSource(nullptr) runs the graph without a
// clock: Run then passes a start time of 0 and samples are not paced. With a clock, Run
// passes the clock's time less the stream time reached when paused, so the stream time
// continues across a pause; a seek restarts it at 0.
//
// Threads and locks: every method may be called from any thread. Lock order: m_csGraph
// (filters, state, clock, stream time; held while the filters change state), then
// m_eventMutex (event queue and completion count). Filters call IMediaEventSink::Notify
// from any thread, also from inside a state change the graph is making: Notify takes only
// m_eventMutex. GetEvent waits holding no graph lock.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "framework/platform/posix/filter_interfaces.h"
#include "framework/platform/posix/graph_interfaces.h"
#include "framework/platform/posix/hresults.h"
#include "framework/platform/posix/sync.h"
#include "framework/platform/unknown_impl.h"

// IUnknown: IUnknown, IFilterGraph, IGraphBuilder, IMediaControl, IDispatch (as
// IMediaControl), IMediaEvent, IMediaEventEx, IPersist, IMediaFilter, IMediaSeeking,
// IMediaEventSink.
class CFilterGraph final
    : public CUnknownImpl<ComInterface<IGraphBuilder, IID_IFilterGraph, IID_IGraphBuilder>,
                          ComInterface<IMediaControl, IID_IMediaControl, IID_IDispatch>,
                          ComInterface<IMediaEventEx, IID_IMediaEvent, IID_IMediaEventEx>,
                          ComInterface<IMediaFilter, IID_IPersist, IID_IMediaFilter>,
                          ComInterface<IMediaSeeking, IID_IMediaSeeking>,
                          ComInterface<IMediaEventSink, IID_IMediaEventSink>> {
public:
    // The creator takes the first reference.
    CFilterGraph();
    ~CFilterGraph() override;

    // Class-table creator: CLASS_E_NOAGGREGATION with an outer object.
    static HRESULT CreateInstance(IUnknown* pOuter, REFIID riid, void** ppv);

    // IFilterGraph. AddFilter: a null name gets a generated one; a name in use gets a
    // numbered suffix and VFW_S_DUPLICATE_NAME; a filter already in the graph is refused
    // with E_INVALIDARG; the filter joins with the graph's IFilterGraph and its name and
    // gets the graph clock. RemoveFilter (VFW_E_NOT_FOUND if not in the graph): both ends
    // of each connected pin are disconnected, then JoinFilterGraph(nullptr, nullptr).
    // ConnectDirect: both pins on filters of this graph (else VFW_E_NOT_IN_GRAPH), the
    // first an output, the second an input (else VFW_E_INVALID_DIRECTION), the graph
    // stopped (else VFW_E_NOT_STOPPED); then the output pin's Connect decides.
    STDMETHODIMP AddFilter(IBaseFilter* pFilter, LPCWSTR pName) override;
    STDMETHODIMP RemoveFilter(IBaseFilter* pFilter) override;
    // A snapshot of the filters in the order they were added; the enumerator's Skip and
    // Clone answer E_NOTIMPL.
    STDMETHODIMP EnumFilters(IEnumFilters** ppEnum) override;
    STDMETHODIMP FindFilterByName(LPCWSTR pName, IBaseFilter** ppFilter) override;
    STDMETHODIMP ConnectDirect(IPin* ppinOut, IPin* ppinIn, const AM_MEDIA_TYPE* pmt) override;
    STDMETHODIMP Reconnect(IPin* ppin) override;
    STDMETHODIMP Disconnect(IPin* ppin) override;
    // The first filter, downstream first, that exposes IReferenceClock, else a new
    // CSystemClock. VFW_E_NOT_STOPPED unless stopped.
    STDMETHODIMP SetDefaultSyncSource() override;

    // IGraphBuilder: E_NOTIMPL.
    STDMETHODIMP Connect(IPin* ppinOut, IPin* ppinIn) override;
    STDMETHODIMP Render(IPin* ppinOut) override;
    STDMETHODIMP RenderFile(LPCWSTR lpcwstrFile, LPCWSTR lpcwstrPlayList) override;
    STDMETHODIMP AddSourceFilter(LPCWSTR lpcwstrFileName, LPCWSTR lpcwstrFilterName,
                                 IBaseFilter** ppFilter) override;
    STDMETHODIMP SetLogFile(DWORD_PTR hFile) override;
    STDMETHODIMP Abort() override;
    STDMETHODIMP ShouldOperationContinue() override;

    // IDispatch (IMediaControl and IMediaEventEx): E_NOTIMPL.
    STDMETHODIMP GetTypeInfoCount(UINT* pctinfo) override;
    STDMETHODIMP GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override;
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                               DISPID* rgDispId) override;
    STDMETHODIMP Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                        DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                        UINT* puArgErr) override;

    // IMediaControl (Stop and Pause are also IMediaFilter's). Run from stopped pauses
    // first; Stop from running pauses every filter first. S_FALSE when a filter answered
    // S_FALSE (transition not complete). A filter's failure stops every filter and is
    // returned; the graph is then stopped.
    STDMETHODIMP Run() override;
    STDMETHODIMP Pause() override;
    STDMETHODIMP Stop() override;
    // The graph's state; VFW_S_STATE_INTERMEDIATE or VFW_S_CANT_CUE when a filter reports
    // it within msTimeout (shared by all filters), or the first failure of a filter.
    STDMETHODIMP GetState(LONG msTimeout, OAFilterState* pfs) override;
    STDMETHODIMP RenderFile(BSTR strFilename) override;
    STDMETHODIMP AddSourceFilter(BSTR strFilename, IDispatch** ppUnk) override;
    STDMETHODIMP get_FilterCollection(IDispatch** ppUnk) override;
    STDMETHODIMP get_RegFilterCollection(IDispatch** ppUnk) override;
    STDMETHODIMP StopWhenReady() override;

    // IMediaEvent / IMediaEventEx. GetEvent: E_ABORT when nothing arrives within
    // msTimeout (codes and parameters then 0). Parameters are plain values:
    // FreeEventParams has nothing to free. The others answer E_NOTIMPL.
    STDMETHODIMP GetEventHandle(OAEVENT* hEvent) override;
    STDMETHODIMP GetEvent(LONG* lEventCode, LONG_PTR* lParam1, LONG_PTR* lParam2,
                          LONG msTimeout) override;
    STDMETHODIMP WaitForCompletion(LONG msTimeout, LONG* pEvCode) override;
    STDMETHODIMP CancelDefaultHandling(LONG lEvCode) override;
    STDMETHODIMP RestoreDefaultHandling(LONG lEvCode) override;
    STDMETHODIMP FreeEventParams(LONG lEvCode, LONG_PTR lParam1, LONG_PTR lParam2) override;
    STDMETHODIMP SetNotifyWindow(OAHWND hwnd, LONG lMsg, LONG_PTR lInstanceData) override;
    STDMETHODIMP SetNotifyFlags(LONG lNoNotifyFlags) override;
    STDMETHODIMP GetNotifyFlags(LONG* lplNoNotifyFlags) override;

    // IPersist / IMediaFilter. SetSyncSource: VFW_E_NOT_STOPPED unless stopped; the clock
    // (or none) goes to every filter. GetClassID, Run(tStart), GetState and GetSyncSource
    // answer E_NOTIMPL.
    STDMETHODIMP GetClassID(CLSID* pClassID) override;
    STDMETHODIMP Run(REFERENCE_TIME tStart) override;
    STDMETHODIMP GetState(DWORD dwMilliSecsTimeout, FILTER_STATE* State) override;
    STDMETHODIMP SetSyncSource(IReferenceClock* pClock) override;
    STDMETHODIMP GetSyncSource(IReferenceClock** pClock) override;

    // IMediaSeeking, forwarded to the filters that expose it, downstream first (E_NOTIMPL
    // when none does). Capabilities are those all of them share; the duration is the
    // longest; the current position comes from the first that answers. SetPositions goes
    // to each of them; a running graph is paused around it and run again with the stream
    // time restarted at 0. The other methods answer E_NOTIMPL.
    STDMETHODIMP GetCapabilities(DWORD* pCapabilities) override;
    STDMETHODIMP CheckCapabilities(DWORD* pCapabilities) override;
    STDMETHODIMP IsFormatSupported(const GUID* pFormat) override;
    STDMETHODIMP QueryPreferredFormat(GUID* pFormat) override;
    STDMETHODIMP GetTimeFormat(GUID* pFormat) override;
    STDMETHODIMP IsUsingTimeFormat(const GUID* pFormat) override;
    STDMETHODIMP SetTimeFormat(const GUID* pFormat) override;
    STDMETHODIMP GetDuration(LONGLONG* pDuration) override;
    STDMETHODIMP GetStopPosition(LONGLONG* pStop) override;
    STDMETHODIMP GetCurrentPosition(LONGLONG* pCurrent) override;
    STDMETHODIMP ConvertTimeFormat(LONGLONG* pTarget, const GUID* pTargetFormat, LONGLONG Source,
                                   const GUID* pSourceFormat) override;
    STDMETHODIMP SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop,
                              DWORD dwStopFlags) override;
    STDMETHODIMP GetPositions(LONGLONG* pCurrent, LONGLONG* pStop) override;
    STDMETHODIMP GetAvailable(LONGLONG* pEarliest, LONGLONG* pLatest) override;
    STDMETHODIMP SetRate(double dRate) override;
    STDMETHODIMP GetRate(double* pdRate) override;
    STDMETHODIMP GetPreroll(LONGLONG* pllPreroll) override;

    // IMediaEventSink: for the filters of this graph.
    STDMETHODIMP Notify(LONG EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2) override;

private:
    CFilterGraph(const CFilterGraph&) = delete;
    CFilterGraph& operator=(const CFilterGraph&) = delete;

    class CGraphLock {
    public:
        explicit CGraphLock(CPlatformMutex& mutex) : m_mutex(mutex) { m_mutex.Lock(); }
        ~CGraphLock() { m_mutex.Unlock(); }

    private:
        CGraphLock(const CGraphLock&) = delete;
        CGraphLock& operator=(const CGraphLock&) = delete;

        CPlatformMutex& m_mutex;
    };

    struct FilterEntry {
        IBaseFilter* pFilter; // a reference
        std::wstring name;
    };
    struct Event {
        LONG lCode;
        LONG_PTR lParam1;
        LONG_PTR lParam2;
    };
    struct Renderer {
        IBaseFilter* pFilter; // identity only, not a reference
        bool bComplete;
    };

    static bool IsRenderer(IBaseFilter* pFilter);
    size_t FindFilterLocked(IBaseFilter* pFilter) const;
    bool NameInUseLocked(const std::wstring& name) const;
    bool PinInGraphLocked(IPin* pPin) const;
    // The filters with every filter downstream of another placed before it; no
    // references are added.
    std::vector<IBaseFilter*> DownstreamFirstLocked() const;
    // The filters that expose IMediaSeeking, downstream first, each with a reference.
    std::vector<IMediaSeeking*> SeekersLocked() const;
    void RemoveFilterLocked(size_t index);
    HRESULT SetSyncSourceLocked(IReferenceClock* pClock);
    HRESULT SetDefaultSyncSourceLocked();

    HRESULT PauseLocked();
    HRESULT RunLocked();
    HRESULT StopLocked();
    // Calls Stop, Pause or Run(tStart) on every filter, downstream first; the first
    // failure, else S_FALSE if a filter answered it, else S_OK.
    HRESULT ApplyStateLocked(FILTER_STATE state, REFERENCE_TIME tStart);
    REFERENCE_TIME ClockTimeLocked() const;
    // Starts counting the renderers' end of stream for a run; disarming ends the count.
    void ArmCompletionLocked();
    void DisarmCompletion();
    HRESULT StateOfFilters(DWORD msTimeout);

    void QueueEventLocked(LONG lCode, LONG_PTR lParam1, LONG_PTR lParam2);


    CPlatformMutex m_csGraph;
    std::vector<FilterEntry> m_filters;   // guarded by m_csGraph
    FILTER_STATE m_state = State_Stopped; // guarded by m_csGraph
    IReferenceClock* m_pClock = nullptr;  // a reference or none; guarded by m_csGraph
    bool m_bClockChosen = false;          // SetSyncSource done; guarded by m_csGraph
    REFERENCE_TIME m_rtStart = 0;         // passed to the last Run; guarded by m_csGraph
    REFERENCE_TIME m_rtPausedAt = 0;      // stream time when paused; guarded by m_csGraph
    unsigned m_nGeneratedName = 0;        // guarded by m_csGraph

    std::mutex m_eventMutex;
    std::condition_variable m_eventChanged; // an event queued
    std::deque<Event> m_events;             // guarded by m_eventMutex
    std::vector<Renderer> m_renderers;      // of the current run; guarded by m_eventMutex
    bool m_bRunning = false;                // guarded by m_eventMutex
    HRESULT m_hrComplete = S_OK;            // first failed renderer status; m_eventMutex
};
