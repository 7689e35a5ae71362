// kvssf play: the source filter in a graph with one sink per pin, run to the end of
// every stream (or an error, or a wall-clock limit), with seeks along the way.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "filter/kvssf_reader.h"
#include "framework/com_ptr.h"
#include "manifest/stream.h"
#include "manifest/track.h"
#include "manifest/video_stream.h"
#include "tools/common/play_graph.h"
#include "tools/common/play_options.h"
#include "tools/common/play_positions.h"
#include "tools/common/play_sink.h"
#include "tools/common/sample_log.h"
#include "tools/kvssf/commands.h"
#include "tools/kvssf/failure_origin.h"
#include "tools/kvssf/interrupt.h"
#include "tools/kvssf/media_module.h"

namespace {

constexpr double kTicksPerSecond = 10000000.0;
constexpr DWORD kProgressIntervalMs = 500;

// kvssf play's own options, beside the ones both hosts take.
struct KvssfPlayOptions {
    std::string Output;
    bool Realtime = false;
};

std::string Seconds(REFERENCE_TIME time) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", double(time) / kTicksPerSecond);
    return text;
}

HRESULT AddRecorderStreams(const CPlayGraph& graph, IMediaRecorder* recorder) {
    for (const ComPtr<CPlaySink>& sink : graph.Sinks()) {
        if (!sink->InputPin()->IsConnected())
            continue;
        int stream = -1;
        const HRESULT hr = recorder->AddStream(sink->InputPin()->CurrentMediaType(), &stream);
        if (FAILED(hr))
            return hr;
        sink->InputPin()->RecorderStream = stream;
    }
    return recorder->WriteHeader();
}

// Frames decoded by a video processor carry their level in the log.
void SetFrameLevels(const CPlayGraph& graph, CKVSsfRd* reader) {
    for (size_t i = 0; i < graph.Sinks().size(); ++i) {
        CSSFStream* stream = reader->GetStream(i);
        if (stream == nullptr || stream->GetStreamKind() != SSFStreamKind::Video)
            continue;
        auto* video = static_cast<CSSFVideoStream*>(stream);
        if (video->VideoProcessor)
            graph.Sinks()[i]->LevelOf = [video](REFERENCE_TIME time) {
                return video->LevelAt(time);
            };
    }
}

// Position / duration, then per video stream the level in use and the last measured
// download rate.
void PrintProgress(IMediaSeeking* seeking, CKVSsfRd* reader, CPlayProgress* progress, bool live) {
    LONGLONG current = 0, duration = 0;
    if (live || FAILED(seeking->GetCurrentPosition(&current)))
        current = progress->Furthest();
    std::string line =
        "\r" + Seconds(current) + " s / " +
        (!live && SUCCEEDED(seeking->GetDuration(&duration)) ? Seconds(duration) + " s"
                                                             : std::string("live"));
    for (uint64_t i = 0; CSSFStream* stream = reader->GetStream(i); ++i) {
        if (stream->GetStreamKind() != SSFStreamKind::Video)
            continue;
        uint32_t level = 0;
        uint64_t target = 0;
        stream->GetLevelState(&level, &target);
        char text[96];
        std::snprintf(text, sizeof text, "  level %u bit/s, download %.2f Mbit/s", level,
                      double(target) / 1e6);
        line += text;
    }
    std::fprintf(stderr, "%s   ", line.c_str());
    std::fflush(stderr);
}

// Removes the interrupt handler when play returns, before the graph it posts to goes.
struct DisarmOnExit {
    ~DisarmOnExit() { DisarmInterruptHandler(); }
};

// The one line a stop request leaves: what stopped the play and what became of its files.
// recording: -1 none, 0 not finalised, 1 finalised.
void PrintStopped(int status, double seconds, int recording) {
    std::string line = std::string("kvssf play: ") + StopReason(status);
    if (seconds < 0) {
        line += ": stopped before playing";
    } else {
        char text[48];
        std::snprintf(text, sizeof text, ": stopped after %.1f s", seconds);
        line += text;
        if (recording >= 0)
            line += recording ? ", recording finalised" : ", recording cut short";
    }
    std::fprintf(stderr, "%s\n", line.c_str());
}

} // namespace

int RunPlay(const std::vector<std::string>& args) {
    PlayOptions options;
    KvssfPlayOptions own;
    const std::vector<PlayHostOption> hostOptions = {
        {"--realtime", &own.Realtime, nullptr, nullptr},
        {"-o", nullptr, &own.Output, nullptr},
    };
    if (int status = ParsePlayOptions(args, {"kvssf play", "kvssf --help"}, hostOptions, &options))
        return status;

    // Until the graph can be stopped, a request is only noted and acted upon once the
    // presentation has loaded (loading may wait for a slow server).
    DisarmOnExit disarm;
    ArmInterruptHandler([](int status) {
        std::fprintf(stderr, "kvssf play: %s: stopping once loaded (again: end at once)\n",
                     StopReason(status));
    });
    CSampleLog log;
    if (!options.Samples.empty() && !log.Open(options.Samples)) {
        std::fprintf(stderr, "kvssf play: %s: cannot be created\n", options.Samples.c_str());
        return 1;
    }
    log.SetPipeClosedHandler([] { RequestStop(kExitOutputClosed); });
    std::unique_ptr<IMediaRecorder> recorder;
    if (!own.Output.empty()) {
        recorder = CreateMediaRecorder();
        if (!recorder) {
            std::fprintf(stderr, "kvssf play: %s: no recorder\n", own.Output.c_str());
            return 1;
        }
        recorder->SetPipeClosedHandler([] { RequestStop(kExitOutputClosed); });
        if (FAILED(recorder->Open(own.Output))) {
            std::fprintf(stderr, "kvssf play: %s\n", recorder->LastError().c_str());
            return 1;
        }
    }

    CPlayGraph graph("kvssf play");
    HRESULT hr = S_OK;
    CUnknown* created = CKVSsfRd::CreateInstance(nullptr, &hr);
    if (created == nullptr)
        return graph.Fail("source filter", E_OUTOFMEMORY);
    auto* reader = static_cast<CKVSsfRd*>(created);
    ComPtr<IBaseFilter> source;
    hr = reader->NonDelegatingQueryInterface(IID_IBaseFilter, source.OutVoid());
    if (FAILED(hr))
        return graph.Fail("source filter", hr);
    graph.SetFailureOrigin([reader, &options](HRESULT failed, FailurePlace place) {
        return DescribeReaderFailure(reader, failed, place, options.Url);
    });
    if (int status = graph.Open(source.Get(), options.Url))
        return status;
    ArmInterruptHandler([&graph](int status) { graph.PostStop(status); });
    if (int status = StopRequested()) {
        PrintStopped(status, -1, -1);
        return status;
    }
    if (reader->GetStream(0) == nullptr)
        return graph.NotAManifest(options.Url);

    CPlayProgress progress;
    hr = graph.ConnectSinks(&log, recorder.get(), &progress, options.Quiet);
    if (FAILED(hr))
        return graph.Fail("connecting the pins", hr);
    SetFrameLevels(graph, reader);
    if (recorder) {
        hr = AddRecorderStreams(graph, recorder.get());
        if (FAILED(hr)) {
            std::fprintf(stderr, "kvssf play: %s: %s\n", own.Output.c_str(),
                         recorder->LastError().c_str());
            return 1;
        }
    }
    hr = graph.SetClock(own.Realtime);
    if (FAILED(hr))
        return graph.Fail("clock", hr);

    ComPtr<IMediaSeeking> seeking;
    source->QueryInterface(IID_IMediaSeeking, seeking.OutVoid());
    DWORD capabilities = 0;
    seeking->GetCapabilities(&capabilities);
    const bool live = capabilities == 0;
    hr = ApplyStartStop(seeking.Get(), options);
    if (FAILED(hr))
        return graph.Fail("positions", hr);
    CSeekPlan seeks(options.Seeks, &progress);
    seeks.Start();

    const bool showProgress = !options.Quiet && isatty(STDERR_FILENO);
    std::function<void()> idle;
    if (showProgress)
        idle = [&] { PrintProgress(seeking.Get(), reader, &progress, live); };
    const auto begin = std::chrono::steady_clock::now();
    int status = graph.Run(seeking.Get(), &seeks, &log, options.Duration,
                           showProgress ? kProgressIntervalMs : INFINITE, idle);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    if (showProgress)
        std::fputc('\n', stderr);
    // A request that raced with the end of the play still decides the exit status.
    const int stopped = StopRequested();
    if (stopped != 0)
        status = stopped;
    const bool finalised = recorder && SUCCEEDED(recorder->Close());
    // Nothing can be finalised on a closed pipe: the trailer's failure is expected.
    if (recorder && !finalised && stopped != kExitOutputClosed) {
        std::fprintf(stderr, "kvssf play: %s\n", recorder->LastError().c_str());
        status = 1;
    }
    log.Close();
    if (!options.Quiet)
        graph.PrintSinkSummary();
    if (stopped != 0)
        PrintStopped(stopped, seconds, recorder ? int(finalised) : -1);
    return status;
}
