// dshow-host: the Windows counterpart of `kvssf play`. It creates the system's filter
// graph and the source filter from its registered COM server, loads the URL, connects
// every output pin to a sink of its own (or to the system's Sample Grabber and Null
// Renderer), runs without a clock and writes what the sinks receive into the same
// sample log as `kvssf play`.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "filter/kvssf_reader_interface.h"
#include "framework/com_ptr.h"
#include "tools/common/play_graph.h"
#include "tools/common/play_options.h"
#include "tools/common/play_positions.h"
#include "tools/common/play_sink.h"
#include "tools/common/sample_log.h"
#include "tools/dshow-host/grabber_chains.h"
#include "tools/dshow-host/load_watch.h"

namespace {

const char kProgram[] = "dshow-host";

const char kUsage[] =
    "usage: dshow-host URL [--bitrate V] [--language L] [--start SEC] [--stop SEC]\n"
    "                      [--seek AT:TO]... [--duration SEC] [--samples FILE] [--grabber]\n"
    "                      [--abort-load SEC] [--quiet]\n"
    "\n"
    "Plays URL through the source filter registered with COM (regsvr32 KVSsfRd.dll) in the\n"
    "system's filter graph, without a clock, until every stream ended (exit 0) or a stream\n"
    "failed (exit 1). The options are those of `kvssf play`; --grabber receives the samples\n"
    "through the system's Sample Grabber and Null Renderer instead of the host's own sinks\n"
    "(sample lines only, positions through the graph; no --seek). While the source loads,\n"
    "the bytes it received are shown (unless --quiet); --abort-load cancels the load after\n"
    "SEC seconds.\n";

// One line per video pin: the type its sink was connected with, e.g. "pin 0: video YUY2
// 640x360" (the subtype's FourCC, or its GUID when it has none).
void PrintVideoTypes(const CPlayGraph& graph) {
    for (const ComPtr<CPlaySink>& sink : graph.Sinks()) {
        const CMediaType& type = sink->InputPin()->CurrentMediaType();
        const BITMAPINFOHEADER* bitmap = nullptr;
        if (type.formattype == FORMAT_VideoInfo && type.cbFormat >= sizeof(VIDEOINFOHEADER))
            bitmap = &reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat)->bmiHeader;
        else if (type.formattype == FORMAT_VideoInfo2 && type.cbFormat >= sizeof(VIDEOINFOHEADER2))
            bitmap = &reinterpret_cast<const VIDEOINFOHEADER2*>(type.pbFormat)->bmiHeader;
        if (type.majortype != MEDIATYPE_Video || bitmap == nullptr)
            continue;
        GUID fourCCBase = type.subtype;
        fourCCBase.Data1 = MEDIASUBTYPE_YUY2.Data1;
        char name[40];
        if (fourCCBase == MEDIASUBTYPE_YUY2) {
            const DWORD code = type.subtype.Data1;
            std::snprintf(name, sizeof name, "%c%c%c%c", char(code), char(code >> 8),
                          char(code >> 16), char(code >> 24));
        } else {
            const GUID& g = type.subtype;
            std::snprintf(name, sizeof name, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                          static_cast<unsigned long>(g.Data1), g.Data2, g.Data3, g.Data4[0],
                          g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6],
                          g.Data4[7]);
        }
        std::fprintf(stderr, "pin %d: video %s %ldx%ld\n", sink->Pin, name,
                     static_cast<long>(bitmap->biWidth), static_cast<long>(bitmap->biHeight));
    }
}

int Play(const PlayOptions& options, bool grabber, double abortLoad) {
    CSampleLog log;
    if (!options.Samples.empty() && !log.Open(options.Samples)) {
        std::fprintf(stderr, "%s: %s: cannot be created\n", kProgram, options.Samples.c_str());
        return 1;
    }
    CPlayGraph graph(kProgram);
    ComPtr<IBaseFilter> source;
    HRESULT hr = CoCreateInstance(CLSID_KVSsfRd, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                  source.OutVoid());
    if (FAILED(hr))
        return graph.Fail("source filter", hr);
    ComPtr<IAMOpenProgress> loadProgress;
    source->QueryInterface(IID_IAMOpenProgress, loadProgress.OutVoid());
    int status;
    {
        CLoadWatch watch(loadProgress.Get(), kProgram, options.Quiet, abortLoad);
        status = graph.Open(source.Get(), options.Url);
    }
    if (status)
        return status;

    CPlayProgress progress;
    CGrabberChains chains;
    hr = grabber ? chains.Connect(&graph, &log, options.Quiet)
                 : graph.ConnectSinks(&log, nullptr, &progress, options.Quiet);
    if (FAILED(hr))
        return graph.Fail("connecting the pins", hr);
    hr = graph.SetClock(false);
    if (FAILED(hr))
        return graph.Fail("clock", hr);

    // The sinks do not seek, so positions go to the source itself; behind the system's
    // renderers they go through the graph, which asks the renderers to pass them on.
    ComPtr<IMediaSeeking> seeking;
    hr = (grabber ? static_cast<IUnknown*>(graph.Graph()) : source.Get())
             ->QueryInterface(IID_IMediaSeeking, seeking.OutVoid());
    if (SUCCEEDED(hr))
        hr = ApplyStartStop(seeking.Get(), options);
    if (FAILED(hr))
        return graph.Fail("positions", hr);
    CSeekPlan seeks(options.Seeks, &progress);
    seeks.Start();

    status = graph.Run(seeking.Get(), &seeks, &log, options.Duration);
    log.Close();
    if (!options.Quiet) {
        if (grabber) {
            chains.PrintSummary();
        } else {
            graph.PrintSinkSummary();
            PrintVideoTypes(graph);
        }
    }
    return status;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    PlayOptions options;
    bool grabber = false;
    double abortLoad = -1;
    const std::vector<PlayHostOption> hostOptions = {
        {"--grabber", &grabber, nullptr, nullptr}, {"--abort-load", nullptr, nullptr, &abortLoad}};
    if (int status = ParsePlayOptions(args, {kProgram, "dshow-host --help"}, hostOptions, &options))
        return status;
    if (grabber && !options.Seeks.empty()) {
        std::fprintf(stderr, "%s: --seek needs the host's own sinks, not --grabber\n", kProgram);
        return 2;
    }
    // Everything COM is released inside Play, before COM goes.
    const HRESULT init = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (FAILED(init)) {
        std::fprintf(stderr, "%s: COM: 0x%08lX\n", kProgram, static_cast<unsigned long>(init));
        return 1;
    }
    const int status = Play(options, grabber, abortLoad);
    CoUninitialize();
    return status;
}
