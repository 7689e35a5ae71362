// The processor's private graph ends in CVideoProcessorSink: one input pin that accepts
// any type and queues the decoded frames reaching it, which the processor's caller then
// copies out one at a time (TakeFrame).
#pragma once

#include <deque>
#include <memory>

#include "framework/base_filter.h"
#include "framework/com_ptr.h"
#include "framework/critical_section.h"
#include "framework/input_pin.h"

class CVideoProcessor;
class CVideoProcessorSink;

// Receive, EndOfStream and BeginFlush run on the upstream threads, TakeFrame on the
// processor's caller; the queue lock is held only while the queue changes. Lock order:
// filter lock, then queue lock.
class CVideoProcessorSinkPin : public CBaseInputPin {
public:
    CVideoProcessorSinkPin(CVideoProcessorSink* filter, CCritSec* lock, HRESULT* phr);
    ~CVideoProcessorSinkPin() override;

    // S_OK for every type.
    HRESULT CheckMediaType(const CMediaType* pmt) override;
    // Empties the queue, then the base's (decommits the allocator).
    HRESULT Inactive() override;
    // Queues the end marker.
    STDMETHODIMP EndOfStream() override;
    // The base's, then the queue emptied.
    STDMETHODIMP BeginFlush() override;
    // Queues a frame starting at or after the last NewSegment's start (0 before any) and
    // drops an earlier one, or any while flushing; S_OK without the base's other
    // streaming checks. Queued frames and the end marker signal the processor's progress.
    STDMETHODIMP Receive(IMediaSample* pSample) override;

    // Copies the oldest frame (properties, times, the data it arrived with) into sample and
    // drops it: S_OK;
    // S_FALSE at the end marker; E_PENDING with nothing queued; E_FAIL when sample's
    // buffer is smaller than the frame's (the frame is lost).
    HRESULT TakeFrame(IMediaSample* sample);

private:
    // A queued frame and its data length on arrival: an upstream filter may reset the
    // length of a sample it has delivered (Wine's DMO wrapper does) before it is taken.
    struct QueuedFrame {
        ComPtr<IMediaSample> sample; // null: the end marker
        LONG length = 0;
    };

    void EmptyQueue();
    void SignalProcessor();

    CVideoProcessorSink* const m_filter;
    CCritSec m_queueLock;
    std::deque<QueuedFrame> m_frames; // m_queueLock
};

class CVideoProcessorSink : public CBaseFilter {
public:
    // processor: not owned; the processor that builds the graph.
    CVideoProcessorSink(CVideoProcessor* processor, HRESULT* phr);
    ~CVideoProcessorSink() override;

    int GetPinCount() override { return 1; }
    // Index 0: the pin "Input", made on the first call (none when its constructor fails).
    CBasePin* GetPin(int n) override;
    CVideoProcessor* Processor() const { return m_processor; }

private:
    CCritSec m_lock;
    std::unique_ptr<CVideoProcessorSinkPin> m_pin; // m_lock
    CVideoProcessor* const m_processor;
};
