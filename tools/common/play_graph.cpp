#include "tools/common/play_graph.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <new>

#include "framework/platform/codepage.h"
#include "tools/common/hresult_text.h"
#include "tools/common/play_positions.h"
#include "tools/common/play_sink.h"
#include "tools/common/sample_log.h"

CPlayGraph::~CPlayGraph() {
    // The graph goes first: it disconnects and releases the filters it holds.
    m_graph.Reset();
}

int CPlayGraph::Open(IBaseFilter* source, const std::string& url) {
    HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IGraphBuilder, m_graph.OutVoid());
    if (FAILED(hr))
        return Fail("filter graph", hr);
    m_source = source;
    hr = m_graph->AddFilter(source, L"source");
    if (FAILED(hr))
        return Fail("source filter", hr);
    ComPtr<IFileSourceFilter> file;
    hr = m_source->QueryInterface(IID_IFileSourceFilter, file.OutVoid());
    if (SUCCEEDED(hr))
        hr = file->Load(AnsiToWide(url).c_str(), nullptr);
    return FAILED(hr) ? FailAt(url, hr, FailurePlace::Load) : 0;
}

HRESULT CPlayGraph::OutputPins(std::vector<ComPtr<IPin>>* pins) const {
    ComPtr<IEnumPins> pinEnum;
    HRESULT hr = m_source->EnumPins(pinEnum.Out());
    if (FAILED(hr))
        return hr;
    ComPtr<IPin> pin;
    while (pinEnum->Next(1, pin.Out(), nullptr) == S_OK)
        pins->push_back(std::move(pin));
    return S_OK;
}

HRESULT CPlayGraph::AddFilter(IBaseFilter* filter, const std::wstring& name) {
    return m_graph->AddFilter(filter, name.c_str());
}

void CPlayGraph::WarnUnconnected(int index, IPin* pin, HRESULT hr) const {
    PIN_INFO info = {};
    pin->QueryPinInfo(&info);
    const auto owner = ComPtr<IBaseFilter>::Adopt(info.pFilter);
    std::fprintf(stderr, "%s: pin %d \"%s\" not connected: %s\n", m_program, index,
                 WideToAnsi(info.achName).c_str(), DescribeHresult(hr).c_str());
}

HRESULT CPlayGraph::ConnectSinks(CSampleLog* log, IStreamRecorder* recorder,
                                 CPlayProgress* progress, bool quiet) {
    std::vector<ComPtr<IPin>> pins;
    HRESULT hr = OutputPins(&pins);
    for (size_t index = 0; SUCCEEDED(hr) && index < pins.size(); ++index) {
        ComPtr<CPlaySink> sink(new (std::nothrow) CPlaySink(int(index), log, recorder, progress, &hr));
        if (!sink) {
            hr = E_OUTOFMEMORY;
            break;
        }
        m_sinks.push_back(sink);
        if (SUCCEEDED(hr))
            hr = AddFilter(sink.Get(), L"sink " + std::to_wstring(index));
        if (FAILED(hr))
            break;
        IPin* output = pins[index].Get();
        const HRESULT connected = m_graph->ConnectDirect(output, sink->InputPin(), nullptr);
        if (FAILED(connected)) {
            // A sink left in the graph unconnected would keep it from completing.
            m_graph->RemoveFilter(sink.Get());
            if (!quiet)
                WarnUnconnected(int(index), output, connected);
        }
    }
    return hr;
}

HRESULT CPlayGraph::SetClock(bool realtime) {
    if (realtime)
        return m_graph->SetDefaultSyncSource();
    ComPtr<IMediaFilter> mediaFilter;
    HRESULT hr = m_graph->QueryInterface(IID_IMediaFilter, mediaFilter.OutVoid());
    return FAILED(hr) ? hr : mediaFilter->SetSyncSource(nullptr);
}

int CPlayGraph::Run(IMediaSeeking* seeking, CSeekPlan* seeks, CSampleLog* log, double maxSeconds,
                    DWORD idleMs, const std::function<void()>& idle) {
    ComPtr<IMediaControl> control;
    ComPtr<IMediaEventEx> events;
    HRESULT hr = m_graph->QueryInterface(IID_IMediaControl, control.OutVoid());
    if (SUCCEEDED(hr))
        hr = m_graph->QueryInterface(IID_IMediaEventEx, events.OutVoid());
    if (SUCCEEDED(hr))
        hr = control->Run();
    if (FAILED(hr))
        return Fail("run", hr);

    const auto begin = std::chrono::steady_clock::now();
    int status = 0;
    for (bool done = false; !done;) {
        DWORD timeout = idleMs;
        if (maxSeconds >= 0) {
            const double left =
                maxSeconds -
                std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
            if (left <= 0)
                break;
            timeout = std::min<DWORD>(timeout, DWORD(left * 1000) + 1);
        }
        LONG code = 0;
        LONG_PTR first = 0, second = 0;
        if (events->GetEvent(&code, &first, &second, long(timeout)) != S_OK) {
            if (idle)
                idle();
            continue;
        }
        events->FreeEventParams(code, first, second);
        if (code == EC_COMPLETE) {
            done = true;
        } else if (code == EC_ERRORABORT || code == EC_USERABORT) {
            status = StreamFailed(HRESULT(first), log, idle != nullptr);
            done = true;
        } else if (code == EC_KVSSF_STOP) {
            status = int(first);
            done = true;
        } else if (code == EC_KVSSF_POSITION_REACHED && seeks != nullptr) {
            seeks->OnPositionReached(seeking);
        }
    }
    control->Stop();
    // A failing stream delivers its end of stream before it reports the error, so the
    // graph may complete first. Once stopped, every worker has reported.
    LONG code = 0;
    LONG_PTR first = 0, second = 0;
    while (status == 0 && events->GetEvent(&code, &first, &second, 0) == S_OK) {
        events->FreeEventParams(code, first, second);
        if (code == EC_ERRORABORT || code == EC_USERABORT)
            status = StreamFailed(HRESULT(first), log, idle != nullptr);
    }
    return status;
}

HRESULT CPlayGraph::PostStop(int status) const {
    ComPtr<IMediaEventSink> sink;
    const HRESULT hr = m_graph->QueryInterface(IID_IMediaEventSink, sink.OutVoid());
    return FAILED(hr) ? hr : sink->Notify(EC_KVSSF_STOP, status, 0);
}

int CPlayGraph::StreamFailed(HRESULT hr, CSampleLog* log, bool afterProgress) const {
    if (log != nullptr)
        log->Error(hr);
    if (afterProgress)
        std::fputc('\n', stderr);
    return FailAt("stream failed", hr, FailurePlace::Stream);
}

int CPlayGraph::FailAt(const std::string& what, HRESULT hr, FailurePlace place) const {
    const std::string line = m_failureOrigin ? m_failureOrigin(hr, place) : std::string();
    if (line.empty())
        return Fail(what, hr, place);
    std::fprintf(stderr, "%s: %s\n", m_program, line.c_str());
    return 1;
}

void CPlayGraph::PrintSinkSummary() const {
    for (const ComPtr<CPlaySink>& sink : m_sinks)
        std::fprintf(stderr, "pin %d: %ld sample(s)\n", sink->Pin, sink->SamplesReceived.load());
}

int CPlayGraph::Fail(const std::string& what, HRESULT hr, FailurePlace place) const {
    std::fprintf(stderr, "%s: %s: %s\n", m_program, what.c_str(),
                 DescribeHresult(hr, place, what).c_str());
    return 1;
}

int CPlayGraph::NotAManifest(const std::string& url) const {
    return Fail(url, kNotAManifest);
}
