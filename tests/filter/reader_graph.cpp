#include "tests/filter/reader_graph.h"

#include <gtest/gtest.h>

#include "framework/platform/codepage.h"

ReaderGraph::ReaderGraph() {
    EXPECT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                               Graph.OutVoid()),
              S_OK);
    HRESULT hr = S_OK;
    CUnknown* reader = CKVSsfRd::CreateInstance(nullptr, &hr);
    EXPECT_EQ(reader->NonDelegatingQueryInterface(IID_IBaseFilter, Filter.OutVoid()), S_OK);
    Reader = static_cast<CKVSsfRd*>(Filter.Get());
    Seeking = Query<IMediaSeeking>(Filter.Get(), IID_IMediaSeeking);
    EXPECT_EQ(Graph->AddFilter(Filter.Get(), L"source"), S_OK);
    EXPECT_EQ(Query<IMediaFilter>(Graph.Get(), IID_IMediaFilter)->SetSyncSource(nullptr), S_OK);
    Control = Query<IMediaControl>(Graph.Get(), IID_IMediaControl);
    Events = Query<IMediaEventEx>(Graph.Get(), IID_IMediaEventEx);
}

ReaderGraph::~ReaderGraph() {
    Control->Stop();
    // The graph goes first, with the references it holds on the filters.
    Control.Reset();
    Events.Reset();
    Graph.Reset();
}

HRESULT ReaderGraph::Load(const std::string& url) {
    return Query<IFileSourceFilter>(Filter.Get(), IID_IFileSourceFilter)
        ->Load(AnsiToWide(url).c_str(), nullptr);
}

HRESULT ReaderGraph::AddSink(IBaseFilter* sink, IPin* output, IPin* input) {
    m_sinks.emplace_back(sink);
    const std::wstring name = L"sink " + std::to_wstring(m_sinks.size() - 1);
    EXPECT_EQ(Graph->AddFilter(sink, name.c_str()), S_OK);
    return Graph->ConnectDirect(output, input, nullptr);
}

void ReaderGraph::ConnectPlaySinks(CSampleLog* log) {
    ComPtr<IEnumPins> pins;
    ASSERT_EQ(Filter->EnumPins(pins.Out()), S_OK);
    ComPtr<IPin> pin;
    for (int i = 0; pins->Next(1, pin.Out(), nullptr) == S_OK; ++i) {
        HRESULT hr = S_OK;
        auto* sink = new CPlaySink(i, log, nullptr, &Progress, &hr);
        Connected.push_back(AddSink(sink, pin.Get(), sink->InputPin()));
    }
}

LONG ReaderGraph::NextEvent(DWORD timeoutMs) {
    LONG code = 0;
    LONG_PTR p1 = 0, p2 = 0;
    while (Events->GetEvent(&code, &p1, &p2, long(timeoutMs)) == S_OK) {
        Events->FreeEventParams(code, p1, p2);
        if (code == EC_KVSSF_POSITION_REACHED)
            continue;
        return code;
    }
    return 0;
}
