#include "tests/filter/reader_graph.h"

#include <gtest/gtest.h>

#include "framework/platform/codepage.h"

ReaderGraph::ReaderGraph() {
    EXPECT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                               reinterpret_cast<void**>(&Graph)),
              S_OK);
    HRESULT hr = S_OK;
    CUnknown* reader = CKVSsfRd::CreateInstance(nullptr, &hr);
    EXPECT_EQ(
        reader->NonDelegatingQueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&Filter)),
        S_OK);
    Reader = static_cast<CKVSsfRd*>(Filter);
    Seeking = Query<IMediaSeeking>(Filter, IID_IMediaSeeking);
    EXPECT_EQ(Graph->AddFilter(Filter, L"source"), S_OK);
    IMediaFilter* mediaFilter = Query<IMediaFilter>(Graph, IID_IMediaFilter);
    EXPECT_EQ(mediaFilter->SetSyncSource(nullptr), S_OK);
    mediaFilter->Release();
    Control = Query<IMediaControl>(Graph, IID_IMediaControl);
    Events = Query<IMediaEventEx>(Graph, IID_IMediaEventEx);
}

ReaderGraph::~ReaderGraph() {
    Control->Stop();
    Control->Release();
    Events->Release();
    Seeking->Release();
    Graph->Release(); // releases the filters it holds
    for (IBaseFilter* sink : m_sinks)
        sink->Release();
    Filter->Release();
}

HRESULT ReaderGraph::Load(const std::string& url) {
    IFileSourceFilter* file = Query<IFileSourceFilter>(Filter, IID_IFileSourceFilter);
    const HRESULT hr = file->Load(AnsiToWide(url).c_str(), nullptr);
    file->Release();
    return hr;
}

HRESULT ReaderGraph::AddSink(IBaseFilter* sink, IPin* output, IPin* input) {
    sink->AddRef();
    m_sinks.push_back(sink);
    const std::wstring name = L"sink " + std::to_wstring(m_sinks.size() - 1);
    EXPECT_EQ(Graph->AddFilter(sink, name.c_str()), S_OK);
    return Graph->ConnectDirect(output, input, nullptr);
}

void ReaderGraph::ConnectPlaySinks(CSampleLog* log) {
    IEnumPins* pins = nullptr;
    ASSERT_EQ(Filter->EnumPins(&pins), S_OK);
    IPin* pin = nullptr;
    for (int i = 0; pins->Next(1, &pin, nullptr) == S_OK; ++i) {
        HRESULT hr = S_OK;
        auto* sink = new CPlaySink(i, log, nullptr, &Progress, &hr);
        Sinks.push_back(sink);
        Connected.push_back(AddSink(sink, pin, sink->InputPin()));
        pin->Release();
    }
    pins->Release();
}

LONG ReaderGraph::NextEvent(DWORD timeoutMs, LONG_PTR* first) {
    LONG code = 0;
    LONG_PTR p1 = 0, p2 = 0;
    while (Events->GetEvent(&code, &p1, &p2, long(timeoutMs)) == S_OK) {
        Events->FreeEventParams(code, p1, p2);
        if (code == EC_KVSSF_POSITION_REACHED)
            continue;
        if (first != nullptr)
            *first = p1;
        return code;
    }
    return 0;
}
