// CPlaySink: the renderer of the play hosts, one per source pin. Its input pin accepts
// any media type and hands every sample and event to the sample log and the recorder;
// end of stream is reported to the graph as EC_COMPLETE, and the filter tells the graph
// it is a renderer (IAMFilterMiscFlags), so the graph waits for it. With a clock it
// waits for each sample's time; without one it takes samples as fast as they come.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "framework/am_event.h"
#include "framework/base_filter.h"
#include "framework/com_ptr.h"
#include "framework/input_pin.h"

class CSampleLog;
class IStreamRecorder;
class CPlaySink;

// The event a sink posts once the media it received reaches the armed position.
constexpr LONG EC_KVSSF_POSITION_REACHED = EC_USER + 0x100;

// Shared by the sinks of one graph: the furthest absolute time received.
class CPlayProgress {
public:
    // Arms the next EC_KVSSF_POSITION_REACHED at rtPosition (absolute, 100 ns).
    void Arm(REFERENCE_TIME rtPosition) { m_armed = rtPosition; }
    void Disarm() { m_armed = -1; }
    // True once, when rtPosition reaches the armed position.
    bool Report(REFERENCE_TIME rtPosition);
    REFERENCE_TIME Furthest() const { return m_furthest; }

private:
    std::atomic<REFERENCE_TIME> m_armed{-1};
    std::atomic<REFERENCE_TIME> m_furthest{0};
};

class CPlaySinkPin : public CBaseInputPin {
public:
    CPlaySinkPin(CPlaySink* pFilter, HRESULT* phr);

    HRESULT CheckMediaType(const CMediaType* pmt) override;
    STDMETHODIMP Receive(IMediaSample* pSample) override;
    STDMETHODIMP EndOfStream() override;
    STDMETHODIMP BeginFlush() override;
    STDMETHODIMP EndFlush() override;
    STDMETHODIMP NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) override;
    HRESULT Active() override;
    HRESULT Inactive() override;

    // The recorder's stream for this pin, once connected; -1 for none.
    std::atomic<int> RecorderStream{-1};

private:
    // Waits until the graph's clock reaches the sample's start; a flush or stop ends
    // the wait early.
    void WaitForPresentationTime(REFERENCE_TIME rtStart);

    CPlaySink* const m_pSink;
    // Held by Receive throughout, so that a flush is logged after every sample that got
    // past the streaming check before it.
    CCritSec m_receiveLock;
    CAMEvent m_interrupt{TRUE};                      // set by flushes and stops
    std::atomic<REFERENCE_TIME> m_rtSegmentStart{0}; // of the last new segment
    // Recording times go on from the last written one after a seek: the offset added.
    REFERENCE_TIME m_rtRecordOffset = 0; // streaming thread
    REFERENCE_TIME m_rtRecordEnd = 0;    // streaming thread
    bool m_bRecordRebase = false;        // streaming thread
};

class CPlaySink : public CBaseFilter, public IAMFilterMiscFlags {
public:
    // pin: this sink's number in the log; log, recorder and progress may be null and
    // must outlive the sink.
    CPlaySink(int pin, CSampleLog* log, IStreamRecorder* recorder, CPlayProgress* progress,
              HRESULT* phr);
    ~CPlaySink() override;

    DECLARE_IUNKNOWN

    // IAMFilterMiscFlags, then CBaseFilter's.
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    // AM_FILTER_MISC_FLAGS_IS_RENDERER.
    STDMETHODIMP_(ULONG) GetMiscFlags() override;

    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override;
    // Sends the completion of an end of stream that arrived while paused.
    STDMETHODIMP Run(REFERENCE_TIME tStart) override;
    STDMETHODIMP Stop() override;
    CPlaySinkPin* InputPin() { return m_pPin; }

    const int Pin;
    CSampleLog* const Log;
    // The level a frame starting at an absolute time was decoded from, for the log; set
    // before the graph runs, when the host knows it.
    std::function<uint32_t(REFERENCE_TIME)> LevelOf;
    IStreamRecorder* const Recorder;
    CPlayProgress* const Progress;
    std::atomic<long> SamplesReceived{0};

private:
    friend class CPlaySinkPin;
    REFERENCE_TIME StreamStart();             // the start of the last Run; filter lock
    ComPtr<IReferenceClock> ReferenceClock(); // empty without a clock
    // The graph hears of an end of stream once the sink runs, as from a renderer.
    void ReportEndOfStream();
    void CancelEndOfStream();

    CCritSec m_lock;
    CPlaySinkPin* m_pPin;
    bool m_bEndOfStreamPending = false; // m_lock
};
