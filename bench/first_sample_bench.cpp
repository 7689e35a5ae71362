// How soon samples come: the source filter in a graph with the play sinks and no clock;
// the milliseconds from IMediaControl::Run to the first sample any sink receives, then
// from a seek to the first sample after it. One JSON line on standard output.
//   first_sample_bench URL SEEK_SECONDS
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "filter/kvssf_reader.h"
#include "framework/am_event.h"
#include "framework/com_ptr.h"
#include "framework/platform/graph_classes.h"
#include "tools/common/play_graph.h"
#include "tools/common/play_sink.h"
#include "tools/common/stream_recorder.h"

namespace {

using Clock = std::chrono::steady_clock;

// Notes when the first sample after Arm arrives; called from the streaming threads.
class CFirstSample : public IStreamRecorder {
public:
    void Arm() {
        m_arrived.Reset();
        m_armed.store(Clock::now().time_since_epoch().count());
    }
    // Milliseconds from Arm to the first sample, -1 after timeoutMs without one.
    double Wait(DWORD timeoutMs) {
        if (!m_arrived.Wait(timeoutMs))
            return -1;
        return double(m_at.load() - m_armed.load()) / 1e6;
    }
    HRESULT Write(int, const BYTE*, size_t, REFERENCE_TIME, REFERENCE_TIME, bool) override {
        if (!m_taking.load())
            return S_OK;
        const Clock::rep now = Clock::now().time_since_epoch().count();
        if (!m_arrived.Check()) {
            m_at.store(now);
            m_arrived.Set();
        }
        return S_OK;
    }
    // Samples delivered before a seek has flushed the pins are not the seek's.
    void Take(bool taking) { m_taking.store(taking); }

private:
    CAMEvent m_arrived{TRUE};
    std::atomic<Clock::rep> m_armed{0};
    std::atomic<Clock::rep> m_at{0};
    std::atomic<bool> m_taking{true};
};

int Fail(const char* what, HRESULT hr) {
    std::fprintf(stderr, "first_sample_bench: %s: 0x%08lX\n", what, static_cast<unsigned long>(hr));
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: first_sample_bench URL SEEK_SECONDS\n");
        return 2;
    }
    const REFERENCE_TIME seekTo = REFERENCE_TIME(std::atof(argv[2]) * 1e7);
    if (CoInitializeEx(nullptr, COINIT_MULTITHREADED) < 0 || FAILED(RegisterGraphClasses()))
        return 1;
    int status = 0;
    {
        CPlayGraph graph("first_sample_bench");
        HRESULT hr = S_OK;
        CUnknown* created = CKVSsfRd::CreateInstance(nullptr, &hr);
        if (created == nullptr)
            return Fail("source filter", E_OUTOFMEMORY);
        ComPtr<IBaseFilter> source;
        hr = static_cast<CKVSsfRd*>(created)->NonDelegatingQueryInterface(IID_IBaseFilter,
                                                                          source.OutVoid());
        if (FAILED(hr))
            return Fail("source filter", hr);
        if (graph.Open(source.Get(), argv[1]) != 0)
            return 1;
        CFirstSample first;
        CPlayProgress progress;
        hr = graph.ConnectSinks(nullptr, &first, &progress, true);
        if (FAILED(hr))
            return Fail("connecting", hr);
        for (const ComPtr<CPlaySink>& sink : graph.Sinks())
            sink->InputPin()->RecorderStream = 0;
        hr = graph.SetClock(false);
        if (FAILED(hr))
            return Fail("clock", hr);
        ComPtr<IMediaControl> control;
        ComPtr<IMediaSeeking> seeking;
        graph.Graph()->QueryInterface(IID_IMediaControl, control.OutVoid());
        graph.Graph()->QueryInterface(IID_IMediaSeeking, seeking.OutVoid());
        if (!control || !seeking)
            return Fail("graph interfaces", E_NOINTERFACE);

        first.Arm();
        hr = control->Run();
        if (FAILED(hr))
            return Fail("run", hr);
        const double afterRun = first.Wait(10000);

        first.Take(false);
        LONGLONG position = seekTo;
        first.Arm();
        hr = seeking->SetPositions(&position, AM_SEEKING_AbsolutePositioning, nullptr,
                                   AM_SEEKING_NoPositioning);
        first.Take(true);
        const double afterSeek = SUCCEEDED(hr) ? first.Wait(10000) : -1;
        control->Stop();
        if (FAILED(hr))
            return Fail("seek", hr);
        std::printf("{\"first_after_run_ms\": %.2f, \"first_after_seek_ms\": %.2f}\n", afterRun,
                    afterSeek);
        status = afterRun < 0 || afterSeek < 0;
    }
    CoUninitialize();
    return status;
}
