// kvssf play: the source filter in a graph with one sink per pin, run to the end of
// every stream (or an error, or a wall-clock limit), with seeks along the way.
#include <unistd.h>

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "filter/kvssf_reader.h"
#include "framework/platform/codepage.h"
#include "manifest/stream.h"
#include "manifest/track.h"
#include "tools/kvssf/commands.h"
#include "tools/common/com_ptr.h"
#include "tools/common/hresult_text.h"
#include "tools/common/play_options.h"
#include "tools/common/play_positions.h"
#include "tools/common/play_sink.h"
#include "tools/kvssf/recorder.h"
#include "tools/common/sample_log.h"

namespace {

constexpr double kTicksPerSecond = 10000000.0;
constexpr DWORD kProgressIntervalMs = 500;

// kvssf play's own options, beside the ones both hosts take.
struct KvssfPlayOptions {
    double Duration = -1; // seconds of wall time; -1 for no limit
    std::string Output;
    bool Realtime = false;
};

std::string Seconds(REFERENCE_TIME time) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", double(time) / kTicksPerSecond);
    return text;
}

int Fail(const char* what, HRESULT hr) {
    std::fprintf(stderr, "kvssf play: %s: %s\n", what, DescribeHresult(hr).c_str());
    return 1;
}

// The source, the sinks and the graph they run in.
class CPlayGraph {
public:
    ~CPlayGraph() {
        for (CPlaySink* sink : Sinks)
            sink->Release();
        if (Source != nullptr)
            Source->Release();
    }

    ComPtr<IGraphBuilder> Graph;
    IBaseFilter* Source = nullptr;
    std::vector<CPlaySink*> Sinks;
};

// Connects every output pin of the source to a sink of its own; pins without a type
// stay unconnected (with a warning).
HRESULT ConnectSinks(CPlayGraph* graph, CSampleLog* log, IStreamRecorder* recorder,
                     CPlayProgress* progress, bool quiet) {
    ComPtr<IEnumPins> pins;
    HRESULT hr = graph->Source->EnumPins(&pins);
    if (FAILED(hr))
        return hr;
    IPin* pin = nullptr;
    for (int index = 0; pins->Next(1, &pin, nullptr) == S_OK; ++index) {
        ComPtr<IPin> output;
        output.p = pin;
        hr = S_OK;
        auto* sink = new (std::nothrow) CPlaySink(index, log, recorder, progress, &hr);
        if (sink == nullptr)
            return E_OUTOFMEMORY;
        sink->AddRef();
        graph->Sinks.push_back(sink);
        if (FAILED(hr))
            return hr;
        const std::wstring name = L"sink " + std::to_wstring(index);
        hr = graph->Graph->AddFilter(sink, name.c_str());
        if (FAILED(hr))
            return hr;
        hr = graph->Graph->ConnectDirect(output.p, sink->InputPin(), nullptr);
        if (FAILED(hr) && !quiet) {
            PIN_INFO info = {};
            output->QueryPinInfo(&info);
            if (info.pFilter != nullptr)
                info.pFilter->Release();
            std::fprintf(stderr, "kvssf play: pin %d \"%s\" not connected: %s\n", index,
                         WideToAnsi(info.achName).c_str(), DescribeHresult(hr).c_str());
        }
    }
    return S_OK;
}

HRESULT AddRecorderStreams(CPlayGraph* graph, CRecorder* recorder) {
    for (CPlaySink* sink : graph->Sinks) {
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
        if (stream->GetStreamKind() != CSSFStream::kVideo)
            continue;
        CAutoLock lock(&stream->Lock);
        char text[96];
        std::snprintf(text, sizeof text, "  level %u bit/s, download %.2f Mbit/s",
                      stream->CurrentTrack != nullptr ? stream->CurrentTrack->Bitrate : 0u,
                      double(stream->TargetBitrate) / 1e6);
        line += text;
    }
    std::fprintf(stderr, "%s   ", line.c_str());
    std::fflush(stderr);
}

} // namespace

int RunPlay(const std::vector<std::string>& args) {
    PlayOptions options;
    KvssfPlayOptions own;
    const std::vector<PlayHostOption> hostOptions = {
        {"--realtime", &own.Realtime, nullptr, nullptr},
        {"-o", nullptr, &own.Output, nullptr},
        {"--duration", nullptr, nullptr, &own.Duration},
    };
    if (int status = ParsePlayOptions(args, {"kvssf play", "kvssf --help"}, hostOptions, &options))
        return status;

    CSampleLog log;
    if (!options.Samples.empty() && !log.Open(options.Samples))
        return Fail(options.Samples.c_str(), E_ACCESSDENIED);
    std::unique_ptr<CRecorder> recorder;
    if (!own.Output.empty()) {
        recorder.reset(new CRecorder);
        if (FAILED(recorder->Open(own.Output))) {
            std::fprintf(stderr, "kvssf play: %s\n", recorder->LastError().c_str());
            return 1;
        }
    }

    CPlayGraph graph;
    HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IGraphBuilder, reinterpret_cast<void**>(&graph.Graph.p));
    if (FAILED(hr))
        return Fail("filter graph", hr);
    CUnknown* created = CKVSsfRd::CreateInstance(nullptr, &hr);
    if (created == nullptr)
        return Fail("source filter", E_OUTOFMEMORY);
    auto* reader = static_cast<CKVSsfRd*>(created);
    hr = reader->NonDelegatingQueryInterface(IID_IBaseFilter,
                                             reinterpret_cast<void**>(&graph.Source));
    if (FAILED(hr))
        return Fail("source filter", hr);
    hr = graph.Graph->AddFilter(graph.Source, L"source");
    if (FAILED(hr))
        return Fail("source filter", hr);

    ComPtr<IFileSourceFilter> file;
    graph.Source->QueryInterface(IID_IFileSourceFilter, reinterpret_cast<void**>(&file.p));
    hr = file->Load(AnsiToWide(options.Url).c_str(), nullptr);
    if (FAILED(hr))
        return Fail(options.Url.c_str(), hr);

    CPlayProgress progress;
    hr = ConnectSinks(&graph, &log, recorder.get(), &progress, options.Quiet);
    if (FAILED(hr))
        return Fail("connecting the pins", hr);
    if (recorder) {
        hr = AddRecorderStreams(&graph, recorder.get());
        if (FAILED(hr)) {
            std::fprintf(stderr, "kvssf play: %s: %s\n", own.Output.c_str(),
                         recorder->LastError().c_str());
            return 1;
        }
    }

    ComPtr<IMediaFilter> mediaFilter;
    graph.Graph->QueryInterface(IID_IMediaFilter, reinterpret_cast<void**>(&mediaFilter.p));
    hr = own.Realtime ? graph.Graph->SetDefaultSyncSource()
                          : mediaFilter->SetSyncSource(nullptr);
    if (FAILED(hr))
        return Fail("clock", hr);

    ComPtr<IMediaSeeking> seeking;
    graph.Source->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&seeking.p));
    DWORD capabilities = 0;
    seeking->GetCapabilities(&capabilities);
    const bool live = capabilities == 0;
    hr = ApplyStartStop(seeking.p, options);
    if (FAILED(hr))
        return Fail("positions", hr);
    CSeekPlan seeks(options.Seeks, &progress);
    seeks.Start();

    ComPtr<IMediaControl> control;
    ComPtr<IMediaEventEx> events;
    graph.Graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control.p));
    graph.Graph->QueryInterface(IID_IMediaEventEx, reinterpret_cast<void**>(&events.p));
    hr = control->Run();
    if (FAILED(hr))
        return Fail("run", hr);

    const bool showProgress = !options.Quiet && isatty(STDERR_FILENO);
    const auto begin = std::chrono::steady_clock::now();
    int status = 0;
    for (bool done = false; !done;) {
        DWORD timeout = showProgress ? kProgressIntervalMs : INFINITE;
        if (own.Duration >= 0) {
            const double left =
                own.Duration -
                std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
            if (left <= 0)
                break;
            timeout = std::min<DWORD>(timeout, DWORD(left * 1000) + 1);
        }
        LONG code = 0;
        LONG_PTR first = 0, second = 0;
        if (events->GetEvent(&code, &first, &second, long(timeout)) != S_OK) {
            if (showProgress)
                PrintProgress(seeking.p, reader, &progress, live);
            continue;
        }
        events->FreeEventParams(code, first, second);
        if (code == EC_COMPLETE) {
            done = true;
        } else if (code == EC_ERRORABORT || code == EC_USERABORT) {
            log.Error(HRESULT(first));
            std::fprintf(stderr, "%skvssf play: stream failed: %s\n", showProgress ? "\n" : "",
                         DescribeHresult(HRESULT(first)).c_str());
            status = 1;
            done = true;
        } else if (code == EC_KVSSF_POSITION_REACHED) {
            seeks.OnPositionReached(seeking.p);
        }
    }
    control->Stop();
    if (showProgress)
        std::fputc('\n', stderr);
    if (recorder && FAILED(recorder->Close())) {
        std::fprintf(stderr, "kvssf play: %s\n", recorder->LastError().c_str());
        status = 1;
    }
    log.Close();
    if (!options.Quiet) {
        for (CPlaySink* sink : graph.Sinks)
            std::fprintf(stderr, "pin %d: %ld sample(s)\n", sink->Pin,
                         sink->SamplesReceived.load());
    }
    return status;
}
