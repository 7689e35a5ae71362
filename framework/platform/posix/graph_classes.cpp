#include "framework/platform/graph_classes.h"

#include "framework/platform/posix/filter_graph.h"
#include "framework/platform/posix/reference_clock.h"

HRESULT RegisterGraphClasses() {
    HRESULT hr = RegisterComClass(CLSID_FilterGraph, &CFilterGraph::CreateInstance);
    if (SUCCEEDED(hr))
        hr = RegisterComClass(CLSID_SystemClock, &CSystemClock::CreateInstance);
    return hr;
}
