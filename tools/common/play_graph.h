// CPlayGraph: the filter graph of a play host. It holds the source filter, connects each
// of its output pins to a CPlaySink of its own, and runs until every stream ended, a
// stream failed or a wall-clock limit passed, carrying out the planned seeks on the way.
//
// Used from the host's main thread only. Every object it holds is released with it; the
// log, recorder and progress given to it must outlive it.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "framework/com_ptr.h"
#include "framework/platform/platform.h"
#include "framework/platform/sync.h"
#include "tools/common/hresult_text.h"
#include "tools/common/play_sink.h"

class CPlayProgress;
class CSampleLog;
class CSeekPlan;
class IStreamRecorder;

// The event PostStop queues: param 1 is the exit status Run returns.
constexpr LONG EC_KVSSF_STOP = EC_USER + 0x101;

class CPlayGraph {
public:
    // A host that can place a failure better than its HRESULT does: the text after
    // "<program>: " for hr met at place (what failed, its URL and status), or empty for
    // the default wording. Called on the thread of Open or Run.
    using FailureOrigin = std::function<std::string(HRESULT hr, FailurePlace place)>;

    // program: the prefix of every message ("kvssf play").
    explicit CPlayGraph(const char* program) : m_program(program) {}
    ~CPlayGraph();

    // Before Open; the default names the URL (load) or "stream failed".
    void SetFailureOrigin(FailureOrigin origin) { m_failureOrigin = std::move(origin); }

    // Creates the graph (CLSID_FilterGraph), adds the source to it (keeping a reference)
    // and loads url into the source. 0, or 1 with the failing step printed. A document
    // that loads without streams passes: the caller checks the source's pins.
    int Open(IBaseFilter* source, const std::string& url);
    // One sink per output pin. A pin that connects to nothing stays unconnected, with a
    // warning unless quiet; other failures are returned.
    HRESULT ConnectSinks(CSampleLog* log, IStreamRecorder* recorder, CPlayProgress* progress,
                         bool quiet);
    // Without a clock (as fast as the samples come) or with the graph's default clock.
    HRESULT SetClock(bool realtime);

    // Runs the graph and waits for its events: 0 at the end of every stream or when
    // maxSeconds (>= 0) of wall time passed; 1 when a stream failed (the error logged
    // and printed) or the graph would not run; PostStop's status when it came first.
    // Every idleMs without an event, idle is called. Stops the graph before it returns.
    int Run(IMediaSeeking* seeking, CSeekPlan* seeks, CSampleLog* log, double maxSeconds,
            DWORD idleMs = INFINITE, const std::function<void()>& idle = nullptr);

    // Makes a Run in progress (or the next one) stop and return status. Safe from any
    // thread between Open and the graph's destruction.
    HRESULT PostStop(int status) const;

    // "pin N: M sample(s)" per sink on standard error.
    void PrintSinkSummary() const;
    // Prints "<program>: <what>: <explanation>" on standard error and returns 1.
    int Fail(const std::string& what, HRESULT hr,
             FailurePlace place = FailurePlace::Anywhere) const;
    // For a URL that loaded without a stream: prints that it is not a manifest; 1.
    int NotAManifest(const std::string& url) const;

    IGraphBuilder* Graph() const { return m_graph.Get(); }
    IBaseFilter* Source() const { return m_source.Get(); }
    const std::vector<ComPtr<CPlaySink>>& Sinks() const { return m_sinks; }
    // The source's output pins in order, each referenced.
    HRESULT OutputPins(std::vector<ComPtr<IPin>>* pins) const;
    // Adds a filter of the host's to the graph; the graph keeps its own reference.
    HRESULT AddFilter(IBaseFilter* filter, const std::wstring& name);
    // Prints that output pin index stays unconnected, and why.
    void WarnUnconnected(int index, IPin* pin, HRESULT hr) const;

private:
    CPlayGraph(const CPlayGraph&) = delete;
    CPlayGraph& operator=(const CPlayGraph&) = delete;

    // Logs and prints a stream's failure; returns 1.
    int StreamFailed(HRESULT hr, CSampleLog* log, bool afterProgress) const;
    // Prints the failure origin's line for hr, else Fail(what, hr, place); returns 1.
    int FailAt(const std::string& what, HRESULT hr, FailurePlace place) const;

    const char* const m_program;
    FailureOrigin m_failureOrigin;
    ComPtr<IGraphBuilder> m_graph;
    ComPtr<IBaseFilter> m_source;
    std::vector<ComPtr<CPlaySink>> m_sinks;
};
