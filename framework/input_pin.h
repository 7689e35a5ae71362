// CBaseInputPin: an input pin receiving media samples through IMemInputPin.
//
// Receive is called on the upstream streaming thread; a derived pin overrides it and
// calls this class's Receive first, which answers the streaming check.
#pragma once

#include <atomic>

#include "framework/base_pin.h"

class CBaseInputPin : public CBasePin, public IMemInputPin {
public:
    CBaseInputPin(LPCWSTR pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr,
                  LPCWSTR pName);
    ~CBaseInputPin() override;

    DECLARE_IUNKNOWN

    // IMemInputPin, then CBasePin's.
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IMemInputPin. GetAllocator creates a CMemAllocator on the first call and hands out
    // a reference to the allocator held (the last one notified, or that one).
    STDMETHODIMP GetAllocator(IMemAllocator** ppAllocator) override;
    // Keeps pAllocator (referenced) and the read-only flag.
    STDMETHODIMP NotifyAllocator(IMemAllocator* pAllocator, BOOL bReadOnly) override;
    // No requirements: E_NOTIMPL.
    STDMETHODIMP GetAllocatorRequirements(ALLOCATOR_PROPERTIES* pProps) override;
    // CheckStreaming's answer.
    STDMETHODIMP Receive(IMediaSample* pSample) override;
    // Receive per sample, up to the first answer other than S_OK.
    STDMETHODIMP ReceiveMultiple(IMediaSample** pSamples, LONG nSamples,
                                 LONG* nSamplesProcessed) override;
    STDMETHODIMP ReceiveCanBlock() override;

    // Set and clear the flushing flag.
    STDMETHODIMP BeginFlush() override;
    STDMETHODIMP EndFlush() override;

    // VFW_E_WRONG_STATE when the filter is stopped, S_FALSE while flushing,
    // VFW_E_RUNTIME_ERROR after a run-time error, else S_OK.
    virtual HRESULT CheckStreaming();

    // Decommit the allocator; BreakConnect also drops it.
    HRESULT Inactive() override;
    HRESULT BreakConnect() override;

    // Not referenced.
    IMemAllocator* Allocator() const { return m_pAllocator.Get(); }
    BOOL IsReadOnly() const { return m_bReadOnly; }
    BOOL IsFlushing() const { return m_bFlushing ? TRUE : FALSE; }

protected:
    ComPtr<IMemAllocator> m_pAllocator; // pin lock
    BOOL m_bReadOnly = FALSE;              // pin lock
    // Set by the flushing thread, read by the streaming thread.
    std::atomic<bool> m_bFlushing{false};
};
