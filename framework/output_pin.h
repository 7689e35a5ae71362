// CBaseOutputPin: an output pin delivering media samples to an IMemInputPin.
//
// On connection the pin takes the receiver's IMemInputPin and decides the allocator
// (DecideAllocator); Active commits the allocator and Inactive decommits it. The
// Deliver family is called by the streaming thread while the filter is active.
#pragma once

#include "framework/base_pin.h"

class CBaseOutputPin : public CBasePin {
public:
    CBaseOutputPin(LPCWSTR pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr,
                   LPCWSTR pName);
    ~CBaseOutputPin() override;

    // The receiver's IMemInputPin is required (VFW_E_NO_TRANSPORT).
    HRESULT CheckConnect(IPin* pPin) override;
    // Decommits and drops the allocator and the receiver's IMemInputPin.
    HRESULT BreakConnect() override;
    // DecideAllocator.
    HRESULT CompleteConnect(IPin* pReceivePin) override;

    // Takes the receiver's requirements (alignment 0 read as 1) and tries the receiver's
    // allocator, then a CMemAllocator of this pin: DecideBufferSize, then NotifyAllocator
    // (not read-only). Returns the last failure when neither is accepted.
    virtual HRESULT DecideAllocator(IMemInputPin* pPin, IMemAllocator** ppAlloc);
    // Sets the buffer properties on pAlloc from the request in ppropInputRequest.
    virtual HRESULT DecideBufferSize(IMemAllocator* pAlloc,
                                     ALLOCATOR_PROPERTIES* ppropInputRequest) = 0;
    // A new CMemAllocator with one reference.
    virtual HRESULT InitAllocator(IMemAllocator** ppAlloc);

    // The allocator's GetBuffer; E_NOINTERFACE without an allocator.
    virtual HRESULT GetDeliveryBuffer(IMediaSample** ppSample, REFERENCE_TIME* pStartTime,
                                      REFERENCE_TIME* pEndTime, DWORD dwFlags);
    // The receiver's Receive and the connected pin's EndOfStream, BeginFlush, EndFlush
    // and NewSegment; VFW_E_NOT_CONNECTED when unconnected.
    virtual HRESULT Deliver(IMediaSample* pSample);
    virtual HRESULT DeliverEndOfStream();
    virtual HRESULT DeliverBeginFlush();
    virtual HRESULT DeliverEndFlush();
    virtual HRESULT DeliverNewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate);

    // Commit and decommit the allocator; VFW_E_NO_ALLOCATOR without one.
    HRESULT Active() override;
    HRESULT Inactive() override;

    // An output pin receives none of these: E_UNEXPECTED.
    STDMETHODIMP EndOfStream() override;
    STDMETHODIMP BeginFlush() override;
    STDMETHODIMP EndFlush() override;

    // Not referenced; null when unconnected.
    IMemAllocator* Allocator() const { return m_pAllocator.Get(); }

protected:
    // Both set from connection to disconnection (referenced), under the pin lock while
    // stopped; the streaming thread only reads them.
    ComPtr<IMemAllocator> m_pAllocator;
    ComPtr<IMemInputPin> m_pInputPin;
};
