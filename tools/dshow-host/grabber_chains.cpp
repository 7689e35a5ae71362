#include "tools/dshow-host/grabber_chains.h"

#include <cstdio>
#include <new>
#include <string>

#include "framework/com_ptr.h"
#include "tools/common/play_graph.h"
#include "tools/dshow-host/grabber_callback.h"

// In the system's strmiids library, but not declared by <qedit.h>.
extern "C" const CLSID CLSID_SampleGrabber;
extern "C" const CLSID CLSID_NullRenderer;

namespace {

HRESULT CreateFilter(REFCLSID clsid, IBaseFilter** filter) {
    return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                            reinterpret_cast<void**>(filter));
}

// The filter's first pin of the given direction, referenced.
HRESULT FirstPin(IBaseFilter* filter, PIN_DIRECTION direction, ComPtr<IPin>* pin) {
    ComPtr<IEnumPins> pins;
    HRESULT hr = filter->EnumPins(pins.Out());
    if (FAILED(hr))
        return hr;
    ComPtr<IPin> candidate;
    while (pins->Next(1, candidate.Out(), nullptr) == S_OK) {
        PIN_DIRECTION candidateDirection = PINDIR_INPUT;
        if (SUCCEEDED(candidate->QueryDirection(&candidateDirection)) &&
            candidateDirection == direction) {
            *pin = std::move(candidate);
            return S_OK;
        }
    }
    return VFW_E_NOT_FOUND;
}

} // namespace

HRESULT CGrabberChains::Connect(CPlayGraph* graph, CSampleLog* log, bool quiet) {
    std::vector<ComPtr<IPin>> pins;
    HRESULT hr = graph->OutputPins(&pins);
    for (size_t index = 0; SUCCEEDED(hr) && index < pins.size(); ++index)
        hr = ConnectChain(graph, int(index), pins[index].Get(), log, quiet);
    return hr;
}

HRESULT CGrabberChains::ConnectChain(CPlayGraph* graph, int index, IPin* output, CSampleLog* log,
                                     bool quiet) {
    ComPtr<CGrabberCallback> callback(new (std::nothrow) CGrabberCallback(index, log));
    if (!callback)
        return E_OUTOFMEMORY;
    m_callbacks.push_back(callback);

    ComPtr<IBaseFilter> grabber, renderer;
    ComPtr<ISampleGrabber> grabbing;
    ComPtr<IPin> grabberIn, grabberOut, rendererIn;
    HRESULT hr = CreateFilter(CLSID_SampleGrabber, grabber.Out());
    if (SUCCEEDED(hr))
        hr = CreateFilter(CLSID_NullRenderer, renderer.Out());
    if (SUCCEEDED(hr))
        hr = grabber->QueryInterface(IID_ISampleGrabber, grabbing.OutVoid());
    // Every sample through the callback, none kept in the grabber.
    if (SUCCEEDED(hr))
        hr = grabbing->SetBufferSamples(FALSE);
    if (SUCCEEDED(hr))
        hr = grabbing->SetOneShot(FALSE);
    if (SUCCEEDED(hr))
        hr = grabbing->SetCallback(callback.Get(), 0);
    const std::wstring number = std::to_wstring(index);
    if (SUCCEEDED(hr))
        hr = graph->AddFilter(grabber.Get(), L"grabber " + number);
    if (SUCCEEDED(hr))
        hr = graph->AddFilter(renderer.Get(), L"null renderer " + number);
    if (SUCCEEDED(hr))
        hr = FirstPin(grabber.Get(), PINDIR_INPUT, &grabberIn);
    if (SUCCEEDED(hr))
        hr = FirstPin(grabber.Get(), PINDIR_OUTPUT, &grabberOut);
    if (SUCCEEDED(hr))
        hr = FirstPin(renderer.Get(), PINDIR_INPUT, &rendererIn);
    if (FAILED(hr))
        return hr;

    hr = graph->Graph()->ConnectDirect(output, grabberIn.Get(), nullptr);
    if (SUCCEEDED(hr))
        hr = graph->Graph()->ConnectDirect(grabberOut.Get(), rendererIn.Get(), nullptr);
    if (FAILED(hr)) {
        // A renderer left in the graph unconnected would keep it from completing.
        graph->Graph()->RemoveFilter(grabber.Get());
        graph->Graph()->RemoveFilter(renderer.Get());
        if (!quiet)
            graph->WarnUnconnected(index, output, hr);
    }
    return S_OK;
}

void CGrabberChains::PrintSummary() const {
    for (const ComPtr<CGrabberCallback>& callback : m_callbacks)
        std::fprintf(stderr, "pin %d: %ld sample(s)\n", callback->Pin,
                     callback->SamplesReceived.load());
}
