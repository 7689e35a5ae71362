// The source filter in a Linux graph that runs without a clock; the sinks are added by
// the test.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "filter/kvssf_reader.h"
#include "tools/common/play_sink.h"

class CSampleLog;

// The object's interface iid, counted; fails the test when it has none.
template <typename T> T* Query(IUnknown* object, REFIID iid) {
    T* result = nullptr;
    EXPECT_EQ(object->QueryInterface(iid, reinterpret_cast<void**>(&result)), S_OK);
    return result;
}

class ReaderGraph {
public:
    ReaderGraph();
    // Stops the graph and releases it with every filter.
    ~ReaderGraph();

    // IFileSourceFilter::Load of the filter.
    HRESULT Load(const std::string& url);
    // Adds sink to the graph (keeping a reference) and connects output to input.
    HRESULT AddSink(IBaseFilter* sink, IPin* output, IPin* input);
    // A play sink on every pin; each connection's result in Connected.
    void ConnectPlaySinks(CSampleLog* log = nullptr);
    // The next event within timeoutMs that is not a position report; 0 when none came.
    LONG NextEvent(DWORD timeoutMs = 30000, LONG_PTR* first = nullptr);

    IGraphBuilder* Graph = nullptr;
    IBaseFilter* Filter = nullptr;
    CKVSsfRd* Reader = nullptr;
    IMediaSeeking* Seeking = nullptr;
    IMediaControl* Control = nullptr;
    IMediaEventEx* Events = nullptr;
    CPlayProgress Progress;
    std::vector<CPlaySink*> Sinks;  // from ConnectPlaySinks, held in m_sinks
    std::vector<HRESULT> Connected; // per pin, from ConnectPlaySinks

private:
    std::vector<IBaseFilter*> m_sinks; // referenced
};
