// CBaseFilter: IBaseFilter (with IMediaFilter and IPersist) over a set of pins that a
// derived filter provides through GetPinCount and GetPin.
//
// The filter lock, given at construction, serialises state changes and pin changes;
// a derived filter may share it with its pins.
#pragma once

#include <atomic>
#include <string>

#include "framework/com_ptr.h"
#include "framework/critical_section.h"
#include "framework/unknown.h"

class CBasePin;

// Registration data of a filter, its pins and their media types.
struct AMOVIESETUP_MEDIATYPE {
    const CLSID* clsMajorType;
    const CLSID* clsMinorType;
};

struct AMOVIESETUP_PIN {
    LPCWSTR strName;
    BOOL bRendered;
    BOOL bOutput;
    BOOL bZero;
    BOOL bMany;
    const CLSID* clsConnectsToFilter;
    LPCWSTR strConnectsToPin;
    UINT nMediaTypes;
    const AMOVIESETUP_MEDIATYPE* lpMediaType;
};

struct AMOVIESETUP_FILTER {
    const CLSID* clsID;
    LPCWSTR strName;
    DWORD dwMerit;
    UINT nPins;
    const AMOVIESETUP_PIN* lpPin;
};

class CBaseFilter : public CUnknown, public IBaseFilter {
public:
    // pLock must outlive the filter; it is the lock of every state change.
    CBaseFilter(LPCWSTR pName, LPUNKNOWN pUnk, CCritSec* pLock, REFCLSID clsid,
                HRESULT* phr = nullptr);
    ~CBaseFilter() override;

    DECLARE_IUNKNOWN

    // IBaseFilter, IMediaFilter and IPersist, then CUnknown's.
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IPersist
    STDMETHODIMP GetClassID(CLSID* pClsID) override;

    // IMediaFilter. Stop: Inactive on every connected pin when not stopped, returning
    // the first failure, stopped in any case. Pause: Active on every connected pin when
    // stopped; the first failure is returned at once and the state stays. Run: Pause
    // through IBaseFilter when stopped, then Run on every connected pin unless running.
    STDMETHODIMP Stop() override;
    STDMETHODIMP Pause() override;
    STDMETHODIMP Run(REFERENCE_TIME tStart) override;
    STDMETHODIMP GetState(DWORD dwMilliSecsTimeout, FILTER_STATE* State) override;
    // The clock is referenced while set.
    STDMETHODIMP SetSyncSource(IReferenceClock* pClock) override;
    STDMETHODIMP GetSyncSource(IReferenceClock** pClock) override;

    // IBaseFilter
    STDMETHODIMP EnumPins(IEnumPins** ppEnum) override;
    // The pin whose QueryId equals Id; VFW_E_NOT_FOUND.
    STDMETHODIMP FindPin(LPCWSTR Id, IPin** ppPin) override;
    STDMETHODIMP QueryFilterInfo(FILTER_INFO* pInfo) override;
    // The graph and its IMediaEventSink are not referenced: the graph holds the filter
    // until it leaves it (JoinFilterGraph(nullptr, nullptr)).
    STDMETHODIMP JoinFilterGraph(IFilterGraph* pGraph, LPCWSTR pName) override;
    STDMETHODIMP QueryVendorInfo(LPWSTR* pVendorInfo) override;

    // The pins, numbered from 0; GetPin gives null past the end. Neither adds a reference.
    virtual int GetPinCount() = 0;
    virtual CBasePin* GetPin(int n) = 0;
    // Registration data; null when the filter has none.
    virtual const AMOVIESETUP_FILTER* GetSetupData() { return nullptr; }

    // Passes an event to the graph: E_NOTIMPL outside a graph with an event sink. The
    // second parameter of EC_COMPLETE becomes this filter's IBaseFilter.
    HRESULT NotifyEvent(LONG EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2);

    BOOL IsActive();
    BOOL IsStopped() const { return m_State == State_Stopped ? TRUE : FALSE; }
    CCritSec* FilterLock() const { return m_pLock; }
    IFilterGraph* GetFilterGraph() const { return m_pGraph; }

    // Pin enumerators started before a change of the pin set go out of sync.
    void IncrementPinVersion() { ++m_PinVersion; }
    LONG GetPinVersion() const { return m_PinVersion.load(); }

protected:
    // Written under the filter lock; read without it by streaming threads.
    std::atomic<FILTER_STATE> m_State{State_Stopped};
    ComPtr<IReferenceClock> m_pClock; // guarded by the filter lock
    REFERENCE_TIME m_tStart = 0;         // start time of the last Run; filter lock
    CCritSec* const m_pLock;
    IFilterGraph* m_pGraph = nullptr; // filter lock
    std::wstring m_wsName;            // name in the graph; filter lock

private:
    const CLSID m_clsid;
    std::atomic<IMediaEventSink*> m_pSink{nullptr};
    std::atomic<LONG> m_PinVersion{1};
};
