// CGrabberChains: the other way dshow-host receives the samples. Each output pin of the
// source feeds the system's Sample Grabber, whose callback writes the samples into the
// log, followed by the system's Null Renderer.
#pragma once

#include <vector>

#include "framework/com_ptr.h"
#include "framework/platform/platform.h"
#include "tools/dshow-host/grabber_callback.h"

class CPlayGraph;
class CSampleLog;

class CGrabberChains {
public:
    CGrabberChains() = default;
    // Releases the callbacks; the graph must have stopped.

    // A grabber and a null renderer per output pin of graph's source. A pin that
    // connects to nothing stays unconnected, with a warning unless quiet; other
    // failures are returned. log must outlive the chains.
    HRESULT Connect(CPlayGraph* graph, CSampleLog* log, bool quiet);
    // "pin N: M sample(s)" per chain on standard error.
    void PrintSummary() const;

private:
    CGrabberChains(const CGrabberChains&) = delete;
    CGrabberChains& operator=(const CGrabberChains&) = delete;

    // Adds one chain behind output, which is the source's pin index.
    HRESULT ConnectChain(CPlayGraph* graph, int index, IPin* output, CSampleLog* log, bool quiet);

    std::vector<ComPtr<CGrabberCallback>> m_callbacks;
};
