// CVideoProcessor: decodes the compressed samples of whichever quality level is current,
// converts and scales them, and hands out frames of one fixed media type.
//
// A private filter graph does the work: the processor's source filter, a decoder bound by
// the input subtype, a colour converter when the decoder cannot give the output subtype,
// a resizer and the processor's sink filter, with no clock. The caller fills the source
// pin's buffers (GetInputSample, DeliverInputSample, EndOfInput) and copies frames out
// (GetOutputSample). A new input type while running drains the old graph through the end
// marker and rebuilds it, so the output type never changes.
//
// Threads: every public operation holds the processor lock, also while it waits for the
// worker thread, which alone creates, builds, runs, stops and dismantles the graph (in
// the multithreaded apartment). Neither the worker nor the graph's threads take the
// processor lock. Lock order: processor lock, a private filter's lock, a pin's lock.
#pragma once

#include "framework/am_event.h"
#include "framework/am_thread.h"
#include "framework/com_ptr.h"
#include "framework/critical_section.h"
#include "framework/media_type.h"

class CVideoProcessorSink;
class CVideoProcessorSource;
class CVideoProcessorSourcePin;

class CVideoProcessor : public CAMThread {
public:
    enum State : LONG {
        Stopped = 0,
        Running = 1,
        InputEnded = 2,       // the end marker travels through the graph
        OutputEnded = 3,      // the end marker came out: no more frames
        TypeChangePending = 4 // the end marker drains the graph, which is then rebuilt
    };
    enum WorkerCommand : DWORD { CreateGraph = 0, RunGraph = 1, StopGraph = 2, ExitWorker = 3 };

    // Starts the worker and has it create the graph; a processor without a graph fails
    // later with E_UNEXPECTED.
    CVideoProcessor();
    // Ends the worker, which dismantles and releases the graph first.
    ~CVideoProcessor() override;

    // Results: VFW_E_WRONG_STATE outside the states named; E_UNEXPECTED without the
    // graph's source filter where one is needed; E_POINTER for a null argument.
    // Stopped: the type in use; Running: applied at the next rebuild, after the end
    // marker it queues has drained the graph (TypeChangePending).
    HRESULT SetInputType(const CMediaType* type, const ALLOCATOR_PROPERTIES* properties);
    // Stopped only.
    HRESULT SetOutputType(const CMediaType* type);
    // Builds and runs the graph from scratch (Running); the build's failure otherwise,
    // with the state unchanged.
    HRESULT Start();
    // Stops and dismantles the graph (Stopped).
    HRESULT Stop();
    HRESULT GetState(LONG* state);
    // Running: the source pin's empty buffer with a reference; E_PENDING (null) while it
    // has none.
    HRESULT GetInputSample(IMediaSample** sample);
    // Running: queues a filled buffer for the decoder.
    HRESULT DeliverInputSample(IMediaSample* sample);
    // Running: queues the end marker (InputEnded).
    HRESULT EndOfInput();
    // Running, OutputEnded: keeps the segment and sends it through the graph; frames
    // before its start are dropped.
    HRESULT SetSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);
    // Any state but Stopped: flushes the graph and resumes it (Running), or applies a
    // pending input type.
    HRESULT Flush();
    // Copies the next frame into sample: S_OK; S_FALSE at the end of the output;
    // E_PENDING when no frame is ready or the frame copied is before the segment start
    // (the caller asks again). Meeting the end marker in TypeChangePending rebuilds the
    // graph for the pending type.
    HRESULT GetOutputSample(IMediaSample* sample);

    // Waits up to timeoutMs for progress: a frame or the end marker queued, an empty
    // buffer to fill, a state change. TRUE when signalled.
    BOOL WaitForProgress(DWORD timeoutMs) { return m_progress.Wait(timeoutMs); }
    // Any thread, no lock.
    void SignalProgress() { m_progress.Set(); }

    // For the private filters, on the worker thread while the caller waits.
    const CMediaType& InputType() const { return m_mtInput; }
    const ALLOCATOR_PROPERTIES& InputAllocatorProperties() const { return m_apInput; }

protected:
    DWORD ThreadProc() override;

private:
    HRESULT DoCreateGraph();
    HRESULT DoRunGraph();
    void TearDownGraph();
    HRESULT BuildGraph();
    HRESULT BindFilterByName(LPCWSTR displayName, IBaseFilter** filter);
    HRESULT AddBoundFilter(LPCWSTR displayName, LPCWSTR name, IBaseFilter** filter);
    HRESULT ConnectFilters(IBaseFilter* upstream, IBaseFilter* downstream, const CMediaType* type);
    HRESULT AddDecoder(ComPtr<IBaseFilter>* current, CMediaType* working);
    HRESULT AddColorConverter(ComPtr<IBaseFilter>* current, CMediaType* working);
    HRESULT AddResizer(ComPtr<IBaseFilter>* current, const CMediaType& working);
    HRESULT ApplyPendingType();
    HRESULT FlushGraph();
    HRESULT TakeFrame(IMediaSample* sample);
    void SetStateLocked(LONG state);
    // In Running, the graph's source pin (E_UNEXPECTED without one); else wrong state.
    HRESULT RunningSourcePin(CVideoProcessorSourcePin** pin);

    CMediaType m_mtInput;
    CMediaType m_mtPendingInput;
    CMediaType m_mtOutput;
    ComPtr<IGraphBuilder> m_pGraph;          // worker thread only
    ComPtr<CVideoProcessorSource> m_pSource; // while a graph is built
    ComPtr<CVideoProcessorSink> m_pSink;     // while a graph is built
    ALLOCATOR_PROPERTIES m_apInput = {};
    ALLOCATOR_PROPERTIES m_apPendingInput = {};
    CCritSec m_csLock;
    LONG m_lState = Stopped;
    REFERENCE_TIME m_rtSegmentStart = 0;
    REFERENCE_TIME m_rtSegmentStop = 0x7FFFFFFFFFFFFFFF;
    double m_dSegmentRate = 1.0;
    CAMEvent m_progress; // auto reset
};
