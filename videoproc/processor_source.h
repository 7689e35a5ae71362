// The processor's private graph begins in CVideoProcessorSource: one output pin that
// offers exactly the processor's input type and pushes the samples the processor's
// caller fills into the decoder, on a thread of its own.
//
// The caller borrows the pin's held buffer (an empty sample of the downstream allocator),
// fills it and hands it back; the pin's thread delivers queued samples in order and
// takes the next empty buffer. While its buffer waits to be filled the thread sleeps on
// an event that a hand-over, the end marker or a command sets.
#pragma once

#include <atomic>
#include <deque>
#include <memory>

#include "framework/am_event.h"
#include "framework/am_thread.h"
#include "framework/base_filter.h"
#include "framework/com_ptr.h"
#include "framework/critical_section.h"
#include "framework/output_pin.h"

class CVideoProcessor;
class CVideoProcessorSource;

// Lock order: filter lock, then pin lock; the thread takes the pin lock only briefly and
// never across GetDeliveryBuffer or Deliver.
class CVideoProcessorSourcePin : public CAMThread, public CBaseOutputPin {
public:
    enum Command : DWORD { CMD_INIT = 0, CMD_PAUSE = 1, CMD_RUN = 2, CMD_STOP = 3, CMD_EXIT = 4 };

    CVideoProcessorSourcePin(CVideoProcessorSource* filter, CCritSec* lock, HRESULT* phr);
    ~CVideoProcessorSourcePin() override;

    // The pin's count is its filter's.
    STDMETHODIMP_(ULONG) AddRef() override { return CBaseOutputPin::AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return CBaseOutputPin::Release(); }

    // Under the filter lock: S_FALSE when the filter is active already, S_OK without
    // action when unconnected; else commits the allocator and starts the thread (E_FAIL
    // when it cannot start) with Init and Pause.
    HRESULT Active() override;
    // Under the filter lock, when connected: decommits the allocator, then Stop, Exit and
    // the end of the thread; drops the held buffer and the queue.
    HRESULT Inactive() override;
    // S_OK for a type equal to the processor's input type, else S_FALSE.
    HRESULT CheckMediaType(const CMediaType* pmt) override;
    // Position 0: the processor's input type.
    HRESULT GetMediaType(int iPosition, CMediaType* pMediaType) override;
    // At least one buffer, each at least as large, aligned and prefixed as the input
    // allocator properties ask; E_FAIL when the allocator grants less.
    HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pRequest) override;
    // Drops the held buffer and the queue, then passes the flush on.
    HRESULT DeliverBeginFlush() override;

    // The caller's side, each under the pin lock. The held buffer with a reference, or
    // null when the thread has none yet.
    ComPtr<IMediaSample> HeldBuffer();
    // Queues sample for delivery (dropping the pin's hold when it is the held buffer).
    HRESULT HandOver(IMediaSample* sample);
    // Queues the end marker: the thread delivers the end of stream after the samples.
    HRESULT QueueEndMarker();
    // Posts command to the thread, waking it first; the thread's reply.
    HRESULT Command(DWORD command);

protected:
    DWORD ThreadProc() override;

private:
    // Delivers queued samples and takes empty buffers until a Stop is pending (S_FALSE,
    // left for ThreadProc), the end marker is delivered or the decoder refuses a sample
    // (S_OK), or no buffer can be had (the failure).
    HRESULT ProcessingLoop();
    // Sleeps until the caller hands something over or a command is on its way.
    void WaitForInput();
    void DropInput();

    static constexpr DWORD kInputWaitMs = 100;   // safety net of each wait for input
    static constexpr DWORD kCommandWaitMs = 100; // bound of the wait for an announced command

    CVideoProcessorSource* const m_filter;
    CCritSec m_pinLock;
    ComPtr<IMediaSample> m_heldBuffer;        // m_pinLock
    std::deque<ComPtr<IMediaSample>> m_input; // m_pinLock; a null entry ends the stream
    CAMEvent m_inputEvent;                    // auto reset: input or a command arrived
    std::atomic<int> m_commandsComing{0};     // Command calls between wake and reply
};

class CVideoProcessorSource : public CBaseFilter {
public:
    // processor: not owned; the processor that builds the graph.
    CVideoProcessorSource(CVideoProcessor* processor, HRESULT* phr);
    ~CVideoProcessorSource() override;

    int GetPinCount() override { return 1; }
    // Index 0: the pin "Output", made on the first call (none when its constructor fails).
    CBasePin* GetPin(int n) override;
    CVideoProcessorSourcePin* Pin() { return static_cast<CVideoProcessorSourcePin*>(GetPin(0)); }
    CVideoProcessor* Processor() const { return m_processor; }

private:
    CCritSec m_lock;
    std::unique_ptr<CVideoProcessorSourcePin> m_pin; // m_lock
    CVideoProcessor* const m_processor;
};
