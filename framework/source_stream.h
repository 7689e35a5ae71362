// CSourceStream: an output pin of a CSource with its own worker thread that fills and
// delivers samples.
//
// The filter's state changes drive the worker through the command channel of
// CAMThread: Active starts it (Init, then Pause), Inactive ends it (Stop, Exit). While
// paused or running the worker runs DoBufferProcessingLoop, which looks for a command
// between samples. Inactive holds the filter's state lock while it waits for the worker,
// so the worker must not take that lock (the two-argument GetMediaType and CheckMediaType
// do); a derived pin guards what its worker shares with the filter by a lock of its own.
#pragma once

#include "framework/am_thread.h"
#include "framework/output_pin.h"
#include "framework/source.h"

class CSourceStream : public CAMThread, public CBaseOutputPin {
public:
    enum Command : DWORD { CMD_INIT = 0, CMD_PAUSE = 1, CMD_RUN = 2, CMD_STOP = 3, CMD_EXIT = 4 };

    // Appends the pin to pms; a failure to do so is reported through phr.
    CSourceStream(LPCWSTR pObjectName, HRESULT* phr, CSource* pms, LPCWSTR pName);
    // Removes the pin from its filter.
    ~CSourceStream() override;

    // The pin's count is its filter's (CAMThread's own count is not used by pins).
    STDMETHODIMP_(ULONG) AddRef() override { return CBaseOutputPin::AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return CBaseOutputPin::Release(); }

    // Under the state lock. S_FALSE when the filter is active already, S_OK without
    // action when unconnected; else commits the allocator and starts the worker
    // (E_FAIL when the thread cannot start) with Init and Pause.
    HRESULT Active() override;
    // Under the state lock, when connected: decommits the allocator (which releases a
    // worker waiting for a buffer), then Stop, Exit and the end of the worker.
    HRESULT Inactive() override;
    using CBaseOutputPin::Run;

    // The 1-based position of the pin in its filter, in decimal, in task memory.
    STDMETHODIMP QueryId(LPWSTR* Id) override;

    // Under the state lock: E_INVALIDARG below 0, the one-argument form at 0,
    // VFW_S_NO_MORE_ITEMS above.
    HRESULT GetMediaType(int iPosition, CMediaType* pMediaType) override;
    // S_OK when the one-argument GetMediaType gives a type equal to pMediaType, else E_FAIL.
    HRESULT CheckMediaType(const CMediaType* pMediaType) override;

protected:
    // The one media type of the pin; E_UNEXPECTED by default.
    virtual HRESULT GetMediaType(CMediaType* pMediaType);
    // Fills pSample: S_OK to deliver it, S_FALSE at the end of the stream, a failure to
    // stop with EC_ERRORABORT. Called on the worker.
    virtual HRESULT FillBuffer(IMediaSample* pSample) = 0;
    // Worker start and end (Init and Exit), and the start of each delivery loop.
    virtual HRESULT OnThreadCreate() { return S_OK; }
    virtual HRESULT OnThreadDestroy() { return S_OK; }
    virtual HRESULT OnThreadStartPlay() { return S_OK; }
    // Fills and delivers samples until a Stop or Exit command is pending (left pending
    // for ThreadProc), the stream ends (end of stream delivered, S_OK), the receiver
    // refuses a sample (S_OK), or FillBuffer fails (its failure). Pause and Run are
    // answered on the way. The hooks below adjust it; each pass that waits also wakes
    // for a command.
    virtual HRESULT DoBufferProcessingLoop();

    // Delivery loop hooks, called on the worker.
    // TRUE while the loop must neither take nor fill a buffer (a flush downstream): each
    // pass waits up to kLoopWaitMs for a command instead. FALSE by default.
    virtual BOOL IsDeliveryHeld() { return FALSE; }
    // GetDeliveryBuffer failed with hr: S_OK to wait up to kBufferRetryMs for a command
    // and try again (the default: normally the allocator was decommitted and its Stop is
    // on the way); a failure ends the loop with it.
    virtual HRESULT OnDeliveryBufferFailed(HRESULT hr);
    // FillBuffer answered E_PENDING (its sample was released): waits up to dwTimeoutMs
    // for progress that may let the next fill succeed (a download done, a frame out).
    // S_OK when progress was signalled; S_FALSE on time-out or with nothing to wait
    // for (the loop then waits as long for a command); a failure when pending fills are
    // not supported (the default, E_NOTIMPL), so that E_PENDING fails the stream as any
    // failure of FillBuffer does.
    virtual HRESULT WaitForProgress(DWORD dwTimeoutMs);

    // The bound of each wait for progress or for the end of a hold, and of a retry of
    // GetDeliveryBuffer, in milliseconds.
    static constexpr DWORD kLoopWaitMs = 20;
    static constexpr DWORD kBufferRetryMs = 100;

    DWORD ThreadProc() override;

    // The commands, as posted by the filter's thread; the answer is the worker's reply.
    HRESULT Init() { return HRESULT(CallWorker(CMD_INIT)); }
    HRESULT Exit() { return HRESULT(CallWorker(CMD_EXIT)); }
    HRESULT Run() { return HRESULT(CallWorker(CMD_RUN)); }
    HRESULT Pause() { return HRESULT(CallWorker(CMD_PAUSE)); }
    HRESULT Stop() { return HRESULT(CallWorker(CMD_STOP)); }

    CSource* const m_pFilter; // the owning filter, as a CSource
};
