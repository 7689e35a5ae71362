// CKVSsfRdOutputPin: one output pin per stream. Its worker pulls an empty sample from
// the downstream allocator, has the stream fill it, fixes its flags and times against
// the filter's segment and delivers it. Media type and buffer questions go to the
// stream; IMediaSeeking goes to the filter.
#pragma once

#include <atomic>
#include <cstdint>

#include "framework/source_stream.h"

class CKVSsfRd;
class CSSFStream;

class CKVSsfRdOutputPin : public CSourceStream, public IMediaSeeking {
public:
    // Appends itself to the filter's pins (E_OUTOFMEMORY through phr when it cannot).
    CKVSsfRdOutputPin(CKVSsfRd* pReader, HRESULT* phr, LPCWSTR pName, uint64_t nStream);

    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // The stream's media type at position 0.
    HRESULT GetMediaType(CMediaType* pMediaType) override;
    HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pRequest) override;
    HRESULT Active() override;
    HRESULT Inactive() override;
    HRESULT DeliverBeginFlush() override;
    HRESULT DeliverEndFlush() override;
    // Quality messages from downstream are ignored.
    STDMETHODIMP Notify(IBaseFilter* pSelf, Quality q) override;

    // The stream this pin serves; null when the index names none.
    CSSFStream* Stream();
    // For a seek: ends the worker's delivery loop, and starts a new one.
    HRESULT StopWorker() { return Stop(); }
    HRESULT RestartWorker() { return Pause(); }

    // IMediaSeeking: every call goes to the filter.
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

protected:
    HRESULT FillBuffer(IMediaSample* pSample) override;
    HRESULT OnThreadCreate() override { return S_OK; }
    HRESULT OnThreadDestroy() override { return S_OK; }
    // A new segment downstream (on demand) and a discontinuity on the next sample.
    HRESULT OnThreadStartPlay() override;
    // Nothing is taken or filled between DeliverBeginFlush and DeliverEndFlush.
    BOOL IsDeliveryHeld() override { return m_bFlushing; }
    // A failed GetDeliveryBuffer ends the delivery loop with its failure.
    HRESULT OnDeliveryBufferFailed(HRESULT hr) override { return hr; }
    // Waits for the download of the current chunk's fragment: S_OK once done, S_FALSE
    // on time-out or when none is downloading.
    HRESULT WaitForProgress(DWORD dwTimeoutMs) override;

private:
    // Rebased stop times below this are preroll: 1 ms after the segment start.
    static constexpr REFERENCE_TIME kPrerollLimit = 10000;
    CKVSsfRd* const m_pReader; // owner; pins share its reference count
    const uint64_t m_nStream;
    std::atomic<BOOL> m_bDiscontinuity{TRUE}; // worker only, but reset at each loop start
    std::atomic<BOOL> m_bFlushing{FALSE};     // set by the seeking thread, read by the worker
};
