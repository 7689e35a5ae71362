// The source filter in a Linux graph that runs without a clock; the sinks are added by
// the test.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "filter/kvssf_reader.h"
#include "framework/com_ptr.h"
#include "tools/common/play_sink.h"

class CSampleLog;

// The object's interface iid; fails the test when it has none.
template <typename T> ComPtr<T> Query(IUnknown* object, REFIID iid) {
    ComPtr<T> result;
    EXPECT_EQ(QueryTo(object, iid, &result), S_OK);
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
    LONG NextEvent(DWORD timeoutMs = 30000);

    ComPtr<IGraphBuilder> Graph;
    ComPtr<IBaseFilter> Filter;
    CKVSsfRd* Reader = nullptr; // Filter's object
    ComPtr<IMediaSeeking> Seeking;
    ComPtr<IMediaControl> Control;
    ComPtr<IMediaEventEx> Events;
    CPlayProgress Progress;
    std::vector<HRESULT> Connected; // per pin, from ConnectPlaySinks

private:
    std::vector<ComPtr<IBaseFilter>> m_sinks;
};
