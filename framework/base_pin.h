// CBasePin: IPin and IQualityControl for the pins of a CBaseFilter.
//
// A pin has no reference count of its own: its IUnknown is its filter's. Connection,
// disconnection and the connection media type are guarded by the pin lock given at
// construction (for a source filter, the filter's state lock).
#pragma once

#include <atomic>
#include <string>

#include "framework/com_ptr.h"
#include "framework/base_filter.h"
#include "framework/critical_section.h"
#include "framework/media_type.h"
#include "framework/unknown.h"

class CBasePin : public CUnknown, public IPin, public IQualityControl {
public:
    CBasePin(LPCWSTR pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr,
             LPCWSTR pName, PIN_DIRECTION dir);
    ~CBasePin() override;

    DECLARE_IUNKNOWN

    // IPin and IQualityControl, then CUnknown's.
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    // The filter's count.
    STDMETHODIMP_(ULONG) NonDelegatingAddRef() override;
    STDMETHODIMP_(ULONG) NonDelegatingRelease() override;

    // IPin. Connect: a fully specified pmt is tried alone; otherwise the types of
    // both pins' enumerators (the receiver's first unless m_bTryMyTypesFirst) that
    // match pmt partially are tried in turn. Each try runs CheckConnect,
    // CheckMediaType, the receiver's ReceiveConnection and CompleteConnect. Errors:
    // VFW_E_ALREADY_CONNECTED, VFW_E_NOT_STOPPED, VFW_E_INVALID_DIRECTION, the failure of
    // the last try (VFW_E_TYPE_NOT_ACCEPTED for an S_FALSE from CheckMediaType), or
    // VFW_E_NO_ACCEPTABLE_TYPES when no candidate was tried.
    STDMETHODIMP Connect(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) override;
    STDMETHODIMP ReceiveConnection(IPin* pConnector, const AM_MEDIA_TYPE* pmt) override;
    // S_FALSE when not connected; VFW_E_NOT_STOPPED while the filter is active.
    STDMETHODIMP Disconnect() override;
    STDMETHODIMP ConnectedTo(IPin** pPin) override;
    STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE* pmt) override;
    STDMETHODIMP QueryPinInfo(PIN_INFO* pInfo) override;
    STDMETHODIMP QueryDirection(PIN_DIRECTION* pPinDir) override;
    // The pin name, in task memory.
    STDMETHODIMP QueryId(LPWSTR* Id) override;
    // S_OK when CheckMediaType accepts the type, else S_FALSE.
    STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* pmt) override;
    STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** ppEnum) override;
    STDMETHODIMP QueryInternalConnections(IPin** apPin, ULONG* nPin) override;
    STDMETHODIMP EndOfStream() override;
    STDMETHODIMP BeginFlush() override = 0;
    STDMETHODIMP EndFlush() override = 0;
    // Records the segment.
    STDMETHODIMP NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) override;

    // IQualityControl. Notify goes to the sink set with SetSink (E_NOTIMPL without one);
    // the sink is not referenced.
    STDMETHODIMP Notify(IBaseFilter* pSelf, Quality q) override;
    STDMETHODIMP SetSink(IQualityControl* piqc) override;

    // Overridables of connection. CheckMediaType: S_OK when the pin can use the type.
    virtual HRESULT CheckMediaType(const CMediaType* pmt) = 0;
    // Records the connection type.
    virtual HRESULT SetMediaType(const CMediaType* pmt);
    // VFW_E_INVALID_DIRECTION for a pin of this pin's direction.
    virtual HRESULT CheckConnect(IPin* pPin);
    // Undoes CheckConnect and CompleteConnect; called on failed tries and Disconnect.
    virtual HRESULT BreakConnect();
    virtual HRESULT CompleteConnect(IPin* pReceivePin);
    // The preferred type at iPosition (from 0): S_OK, VFW_S_NO_MORE_ITEMS past the end.
    // None by default (E_UNEXPECTED).
    virtual HRESULT GetMediaType(int iPosition, CMediaType* pMediaType);
    LONG GetMediaTypeVersion() const { return m_TypeVersion.load(); }
    // Media type enumerators started before go out of sync.
    void IncrementTypeVersion() { ++m_TypeVersion; }

    // State changes, called by the filter under its lock on connected pins.
    virtual HRESULT Active();
    virtual HRESULT Inactive();
    virtual HRESULT Run(REFERENCE_TIME tStart);

    BOOL IsConnected() const { return m_Connected != nullptr ? TRUE : FALSE; }
    // Not referenced.
    IPin* GetConnected() const { return m_Connected.Get(); }
    BOOL IsStopped() const { return m_pFilter->IsStopped(); }
    const std::wstring& Name() const { return m_pName; }
    PIN_DIRECTION Direction() const { return m_dir; }
    const CMediaType& CurrentMediaType() const { return m_mt; }
    REFERENCE_TIME CurrentStartTime() const { return m_tStart; }
    REFERENCE_TIME CurrentStopTime() const { return m_tStop; }
    double CurrentRate() const { return m_dRate; }

protected:
    const std::wstring m_pName;
    // Set while connected (referenced); changed only while stopped, under the pin lock.
    ComPtr<IPin> m_Connected;
    const PIN_DIRECTION m_dir;
    CCritSec* const m_pLock;
    std::atomic<bool> m_bRunTimeError{false};
    bool m_bCanReconnectWhenActive = false;
    bool m_bTryMyTypesFirst = false;
    CBaseFilter* const m_pFilter;
    IQualityControl* m_pQSink = nullptr; // pin lock
    CMediaType m_mt;                     // the connection type; pin lock
    // The last NewSegment; written by the upstream streaming thread.
    REFERENCE_TIME m_tStart = 0;
    REFERENCE_TIME m_tStop = 0;
    double m_dRate = 1.0;

private:
    HRESULT AgreeMediaType(IPin* pReceivePin, const CMediaType* pmt);
    HRESULT TryMediaTypes(IPin* pReceivePin, const CMediaType* pmt, IEnumMediaTypes* pEnum);
    HRESULT AttemptConnection(IPin* pReceivePin, const CMediaType* pmt);
    void DisconnectLocked();

    std::atomic<LONG> m_TypeVersion{1};
};
