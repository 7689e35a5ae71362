#include "videoproc/video_processor.h"

#include <new>
#include <vector>

#include "framework/catch_out_of_memory.h"
#include "framework/image_size.h"
#include "framework/subtypes.h"
#include "videoproc/processor_filters.h"
#include "videoproc/processor_sink.h"
#include "videoproc/processor_source.h"

namespace {

constexpr GUID kSubtypeAvc1 = FourCCSubtype(MakeFourCC('A', 'V', 'C', '1'));
constexpr GUID kSubtypeWvc1 = FourCCSubtype(MakeFourCC('W', 'V', 'C', '1'));

constexpr LONG kStateTimeoutMs = 5000;

// The first pin of filter in direction whose name does not start with "~" and, when
// unconnectedOnly, that is not connected; null when there is none.
ComPtr<IPin> FindPin(IBaseFilter* filter, PIN_DIRECTION direction, bool unconnectedOnly) {
    ComPtr<IEnumPins> pins;
    if (FAILED(filter->EnumPins(pins.Out())) || !pins)
        return {};
    ComPtr<IPin> pin;
    while (pins->Next(1, pin.Out(), nullptr) == S_OK) {
        PIN_INFO info = {};
        if (FAILED(pin->QueryPinInfo(&info)))
            continue;
        ComPtr<IBaseFilter>::Adopt(info.pFilter).Reset();
        ComPtr<IPin> peer;
        pin->ConnectedTo(peer.Out());
        if (info.dir == direction && info.achName[0] != L'~' && (!unconnectedOnly || !peer))
            return pin;
    }
    return {};
}

// The bitmap header and the frame time of a video format block; null when the block is
// too short for its format type.
BITMAPINFOHEADER* VideoBitmap(AM_MEDIA_TYPE& type, REFERENCE_TIME** frameTime, DWORD** bitRate,
                              DWORD** bitErrorRate) {
    if (type.pbFormat == nullptr)
        return nullptr;
    if (type.formattype == FORMAT_VideoInfo) {
        if (type.cbFormat < sizeof(VIDEOINFOHEADER))
            return nullptr;
        auto* header = reinterpret_cast<VIDEOINFOHEADER*>(type.pbFormat);
        *frameTime = &header->AvgTimePerFrame;
        *bitRate = &header->dwBitRate;
        *bitErrorRate = &header->dwBitErrorRate;
        return &header->bmiHeader;
    }
    if (type.cbFormat < sizeof(VIDEOINFOHEADER2))
        return nullptr;
    auto* header = reinterpret_cast<VIDEOINFOHEADER2*>(type.pbFormat);
    *frameTime = &header->AvgTimePerFrame;
    *bitRate = &header->dwBitRate;
    *bitErrorRate = &header->dwBitErrorRate;
    return &header->bmiHeader;
}

} // namespace

CVideoProcessor::CVideoProcessor() {
    if (Create())
        CallWorker(CreateGraph);
}

CVideoProcessor::~CVideoProcessor() {
    CallWorker(ExitWorker);
    Close();
}

DWORD CVideoProcessor::ThreadProc() {
    for (;;) {
        const DWORD command = GetRequest();
        switch (command) {
        case CreateGraph:
            Reply(DWORD(DoCreateGraph()));
            break;
        case RunGraph:
            Reply(DWORD(DoRunGraph()));
            break;
        case StopGraph:
            TearDownGraph();
            Reply(DWORD(S_OK));
            break;
        case ExitWorker:
            TearDownGraph();
            m_pGraph.Reset();
            Reply(DWORD(S_OK));
            return 0;
        default:
            Reply(DWORD(E_NOTIMPL));
            break;
        }
    }
}

HRESULT CVideoProcessor::DoCreateGraph() {
    HRESULT hr =
        CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
                         IID_IGraphBuilder, m_pGraph.OutVoid());
    if (FAILED(hr))
        return hr;
    // No clock: decoding runs as fast as input arrives.
    ComPtr<IMediaFilter> filter;
    if (SUCCEEDED(QueryTo(m_pGraph.Get(), IID_IMediaFilter, &filter)))
        filter->SetSyncSource(nullptr);
    return S_OK;
}

HRESULT CVideoProcessor::DoRunGraph() {
    HRESULT hr = BuildGraph();
    if (FAILED(hr)) {
        TearDownGraph();
        return hr;
    }
    ComPtr<IMediaControl> control;
    if (FAILED(QueryTo(m_pGraph.Get(), IID_IMediaControl, &control)))
        return E_UNEXPECTED;
    hr = control->Run();
    if (FAILED(hr)) {
        TearDownGraph();
        return hr;
    }
    OAFilterState state;
    control->GetState(kStateTimeoutMs, &state);
    return S_OK;
}

void CVideoProcessor::TearDownGraph() {
    if (m_pGraph) {
        ComPtr<IMediaControl> control;
        if (SUCCEEDED(QueryTo(m_pGraph.Get(), IID_IMediaControl, &control))) {
            control->Stop();
            OAFilterState state;
            control->GetState(kStateTimeoutMs, &state);
        }
        // Removed after the enumeration: removing changes the set enumerated.
        std::vector<ComPtr<IBaseFilter>> filters;
        ComPtr<IEnumFilters> enumerator;
        if (SUCCEEDED(m_pGraph->EnumFilters(enumerator.Out())) && enumerator) {
            CatchOutOfMemory([&] {
                ComPtr<IBaseFilter> filter;
                while (enumerator->Next(1, filter.Out(), nullptr) == S_OK)
                    filters.push_back(std::move(filter));
                return S_OK;
            });
        }
        for (const ComPtr<IBaseFilter>& filter : filters)
            m_pGraph->RemoveFilter(filter.Get());
    }
    m_pSource.Reset();
    m_pSink.Reset();
}

HRESULT CVideoProcessor::BuildGraph() {
    if (!m_pGraph)
        return E_UNEXPECTED;
    TearDownGraph();

    HRESULT hr = S_OK;
    m_pSource = ComPtr<CVideoProcessorSource>(new (std::nothrow) CVideoProcessorSource(this, &hr));
    if (!m_pSource)
        return E_OUTOFMEMORY;
    if (SUCCEEDED(hr))
        hr = m_pGraph->AddFilter(m_pSource.Get(), L"SSF Video Processor Source");
    if (FAILED(hr))
        return hr;
    m_pSink = ComPtr<CVideoProcessorSink>(new (std::nothrow) CVideoProcessorSink(this, &hr));
    if (!m_pSink)
        return E_OUTOFMEMORY;
    if (SUCCEEDED(hr))
        hr = m_pGraph->AddFilter(m_pSink.Get(), L"SSF Video Processor Sink");
    if (FAILED(hr))
        return hr;

    CMediaType working(m_mtInput, &hr);
    if (FAILED(hr))
        return hr;
    ComPtr<IBaseFilter> current(m_pSource.Get());
    hr = AddDecoder(&current, &working);
    if (SUCCEEDED(hr))
        hr = AddColorConverter(&current, &working);
    if (SUCCEEDED(hr))
        hr = AddResizer(&current, working);
    if (FAILED(hr))
        return hr;
    return ConnectFilters(current.Get(), m_pSink.Get(), &m_mtOutput);
}

HRESULT CVideoProcessor::BindFilterByName(LPCWSTR displayName, IBaseFilter** filter) {
    ComPtr<IBindCtx> context;
    HRESULT hr = CreateBindCtx(0, context.Out());
    if (FAILED(hr))
        return hr;
    ComPtr<IMoniker> moniker;
    ULONG eaten = 0;
    hr = MkParseDisplayName(context.Get(), displayName, &eaten, moniker.Out());
    if (FAILED(hr))
        return hr;
    return moniker->BindToObject(context.Get(), nullptr, IID_IBaseFilter,
                                 reinterpret_cast<void**>(filter));
}

HRESULT CVideoProcessor::AddBoundFilter(LPCWSTR displayName, LPCWSTR name, IBaseFilter** filter) {
    ComPtr<IBaseFilter> bound;
    HRESULT hr = BindFilterByName(displayName, bound.Out());
    if (SUCCEEDED(hr))
        hr = m_pGraph->AddFilter(bound.Get(), name);
    if (SUCCEEDED(hr))
        *filter = bound.Detach();
    return hr;
}

HRESULT CVideoProcessor::ConnectFilters(IBaseFilter* upstream, IBaseFilter* downstream,
                                        const CMediaType* type) {
    if (!m_pGraph)
        return E_POINTER;
    const ComPtr<IPin> output = FindPin(upstream, PINDIR_OUTPUT, true);
    const ComPtr<IPin> input = FindPin(downstream, PINDIR_INPUT, true);
    if (!output || !input)
        return E_FAIL;
    return m_pGraph->ConnectDirect(output.Get(), input.Get(), type);
}

HRESULT CVideoProcessor::AddDecoder(ComPtr<IBaseFilter>* current, CMediaType* working) {
    LPCWSTR displayName = nullptr;
    LPCWSTR name = nullptr;
    if (working->subtype == kSubtypeAvc1Iso || working->subtype == kSubtypeAvc1) {
        displayName = kAvcDecoderDisplayName;
        name = L"SSF Video Processor AVC Decoder";
    } else if (working->subtype == kSubtypeWvc1) {
        displayName = kWvc1DecoderDisplayName;
        name = L"SSF Video Processor WVC1 Decoder";
    } else {
        return E_FAIL;
    }
    ComPtr<IBaseFilter> decoder;
    HRESULT hr = AddBoundFilter(displayName, name, decoder.Out());
    if (SUCCEEDED(hr))
        hr = ConnectFilters(current->Get(), decoder.Get(), working);
    if (SUCCEEDED(hr))
        *current = std::move(decoder);
    return hr;
}

HRESULT CVideoProcessor::AddColorConverter(ComPtr<IBaseFilter>* current, CMediaType* working) {
    // A decoder that offers the output subtype and format needs no converter.
    if (const ComPtr<IPin> output = FindPin(current->Get(), PINDIR_OUTPUT, true)) {
        ComPtr<IEnumMediaTypes> types;
        if (SUCCEEDED(output->EnumMediaTypes(types.Out())) && types) {
            AM_MEDIA_TYPE* offered = nullptr;
            while (types->Next(1, &offered, nullptr) == S_OK) {
                const bool usable = offered->majortype == m_mtOutput.majortype &&
                                    offered->subtype == m_mtOutput.subtype &&
                                    offered->formattype == m_mtOutput.formattype;
                const HRESULT hr = usable ? working->Set(*offered) : S_FALSE;
                DeleteMediaType(offered);
                if (usable)
                    return hr;
            }
        }
    }

    ComPtr<IBaseFilter> converter;
    HRESULT hr = AddBoundFilter(kColorConverterDisplayName, L"SSF Video Processor Color Converter",
                                converter.Out());
    if (SUCCEEDED(hr))
        hr = ConnectFilters(current->Get(), converter.Get(), nullptr);
    if (FAILED(hr))
        return hr;
    *current = converter;

    // The converter's input: the decoder's output at the decoded size.
    const ComPtr<IPin> input = FindPin(converter.Get(), PINDIR_INPUT, false);
    if (!input)
        return E_NOINTERFACE;
    AM_MEDIA_TYPE connection = {};
    hr = input->ConnectionMediaType(&connection);
    if (FAILED(hr))
        return hr;
    hr = working->Set(connection);
    FreeMediaType(connection);
    if (FAILED(hr))
        return hr;

    // What the converter must output: the output subtype at that size.
    REFERENCE_TIME* frameTime = nullptr;
    DWORD* bitRate = nullptr;
    DWORD* bitErrorRate = nullptr;
    BITMAPINFOHEADER* bitmap = VideoBitmap(*working, &frameTime, &bitRate, &bitErrorRate);
    REFERENCE_TIME* outputFrameTime = nullptr;
    DWORD* outputBitRate = nullptr;
    DWORD* outputBitErrorRate = nullptr;
    const BITMAPINFOHEADER* outputBitmap =
        VideoBitmap(m_mtOutput, &outputFrameTime, &outputBitRate, &outputBitErrorRate);
    if (bitmap == nullptr || outputBitmap == nullptr)
        return VFW_E_INVALIDMEDIATYPE;
    working->subtype = m_mtOutput.subtype;
    *bitRate = 0;
    *bitErrorRate = 0;
    bitmap->biBitCount = outputBitmap->biBitCount;
    bitmap->biCompression = outputBitmap->biCompression;
    bitmap->biSizeImage = DWORD(ImageSize(working->subtype, bitmap->biWidth, bitmap->biHeight));
    working->lSampleSize = bitmap->biSizeImage;
    if (*frameTime != 0)
        *bitRate = DWORD(int64_t(bitmap->biSizeImage) * 80000000 / *frameTime);
    return S_OK;
}

HRESULT CVideoProcessor::AddResizer(ComPtr<IBaseFilter>* current, const CMediaType& working) {
    ComPtr<IBaseFilter> resizer;
    HRESULT hr = AddBoundFilter(kResizerDisplayName, L"SSF Video Processor Resizer", resizer.Out());
    if (SUCCEEDED(hr))
        hr = ConnectFilters(current->Get(), resizer.Get(), &working);
    if (SUCCEEDED(hr))
        *current = std::move(resizer);
    return hr;
}

HRESULT CVideoProcessor::RunningSourcePin(CVideoProcessorSourcePin** pin) {
    if (m_lState != Running)
        return VFW_E_WRONG_STATE;
    *pin = m_pSource ? m_pSource->Pin() : nullptr;
    return *pin != nullptr ? S_OK : E_UNEXPECTED;
}

void CVideoProcessor::SetStateLocked(LONG state) {
    m_lState = state;
    SignalProgress();
}

HRESULT CVideoProcessor::SetInputType(const CMediaType* type,
                                      const ALLOCATOR_PROPERTIES* properties) {
    if (type == nullptr || properties == nullptr)
        return E_POINTER;
    CAutoLock lock(&m_csLock);
    switch (m_lState) {
    case Stopped: {
        const HRESULT hr = m_mtInput.Set(*type);
        if (SUCCEEDED(hr))
            m_apInput = *properties;
        return hr;
    }
    case Running: {
        CVideoProcessorSourcePin* pin = m_pSource ? m_pSource->Pin() : nullptr;
        if (pin == nullptr)
            return E_UNEXPECTED;
        const HRESULT hr = m_mtPendingInput.Set(*type);
        if (FAILED(hr))
            return hr;
        m_apPendingInput = *properties;
        SetStateLocked(TypeChangePending);
        pin->QueueEndMarker();
        return S_OK;
    }
    default:
        return VFW_E_WRONG_STATE;
    }
}

HRESULT CVideoProcessor::SetOutputType(const CMediaType* type) {
    if (type == nullptr)
        return E_POINTER;
    CAutoLock lock(&m_csLock);
    if (m_lState != Stopped)
        return VFW_E_WRONG_STATE;
    return m_mtOutput.Set(*type);
}

HRESULT CVideoProcessor::Start() {
    CAutoLock lock(&m_csLock);
    const auto hr = HRESULT(CallWorker(RunGraph));
    if (SUCCEEDED(hr))
        SetStateLocked(Running);
    return hr;
}

HRESULT CVideoProcessor::Stop() {
    CAutoLock lock(&m_csLock);
    const auto hr = HRESULT(CallWorker(StopGraph));
    if (FAILED(hr))
        return hr;
    SetStateLocked(Stopped);
    return S_OK;
}

HRESULT CVideoProcessor::GetState(LONG* state) {
    if (state == nullptr)
        return E_POINTER;
    CAutoLock lock(&m_csLock);
    *state = m_lState;
    return S_OK;
}

HRESULT CVideoProcessor::GetInputSample(IMediaSample** sample) {
    if (sample == nullptr)
        return E_POINTER;
    *sample = nullptr;
    CAutoLock lock(&m_csLock);
    CVideoProcessorSourcePin* pin = nullptr;
    const HRESULT hr = RunningSourcePin(&pin);
    if (FAILED(hr))
        return hr;
    *sample = pin->HeldBuffer().Detach();
    return *sample != nullptr ? S_OK : E_PENDING;
}

HRESULT CVideoProcessor::DeliverInputSample(IMediaSample* sample) {
    if (sample == nullptr)
        return E_POINTER;
    CAutoLock lock(&m_csLock);
    CVideoProcessorSourcePin* pin = nullptr;
    const HRESULT hr = RunningSourcePin(&pin);
    return FAILED(hr) ? hr : pin->HandOver(sample);
}

HRESULT CVideoProcessor::EndOfInput() {
    CAutoLock lock(&m_csLock);
    CVideoProcessorSourcePin* pin = nullptr;
    const HRESULT hr = RunningSourcePin(&pin);
    if (FAILED(hr))
        return hr;
    SetStateLocked(InputEnded);
    return pin->QueueEndMarker();
}

HRESULT CVideoProcessor::SetSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    CAutoLock lock(&m_csLock);
    if (m_lState != Running && m_lState != OutputEnded)
        return VFW_E_WRONG_STATE;
    CVideoProcessorSourcePin* pin = m_pSource ? m_pSource->Pin() : nullptr;
    if (pin == nullptr)
        return E_UNEXPECTED;
    m_rtSegmentStart = start;
    m_rtSegmentStop = stop;
    m_dSegmentRate = rate;
    return pin->DeliverNewSegment(start, stop, rate);
}

HRESULT CVideoProcessor::Flush() {
    CAutoLock lock(&m_csLock);
    if (m_lState < Running || m_lState > TypeChangePending)
        return VFW_E_WRONG_STATE;
    if (!m_pSource)
        return E_UNEXPECTED;
    const HRESULT hr = FlushGraph();
    if (m_lState == TypeChangePending)
        return ApplyPendingType();
    SetStateLocked(Running);
    return hr;
}

HRESULT CVideoProcessor::FlushGraph() {
    CVideoProcessorSourcePin* pin = m_pSource->Pin();
    if (pin == nullptr)
        return E_UNEXPECTED;
    if (!m_pSource->IsActive())
        return S_OK;
    pin->DeliverBeginFlush();
    pin->Command(CVideoProcessorSourcePin::CMD_STOP);
    pin->DeliverEndFlush();
    if (m_pSource->IsActive())
        pin->Command(CVideoProcessorSourcePin::CMD_RUN);
    return S_OK;
}

HRESULT CVideoProcessor::ApplyPendingType() {
    if (m_lState != TypeChangePending)
        return VFW_E_WRONG_STATE;
    CallWorker(StopGraph);
    HRESULT hr = m_mtInput.Set(m_mtPendingInput);
    if (SUCCEEDED(hr)) {
        m_apInput = m_apPendingInput;
        hr = HRESULT(CallWorker(RunGraph));
    }
    if (FAILED(hr)) {
        SetStateLocked(Stopped);
        return hr;
    }
    if (CVideoProcessorSourcePin* pin = m_pSource ? m_pSource->Pin() : nullptr)
        pin->DeliverNewSegment(m_rtSegmentStart, m_rtSegmentStop, m_dSegmentRate);
    SetStateLocked(Running);
    return S_OK;
}

HRESULT CVideoProcessor::TakeFrame(IMediaSample* sample) {
    auto* pin = static_cast<CVideoProcessorSinkPin*>(m_pSink ? m_pSink->GetPin(0) : nullptr);
    return pin != nullptr ? pin->TakeFrame(sample) : E_UNEXPECTED;
}

HRESULT CVideoProcessor::GetOutputSample(IMediaSample* sample) {
    if (sample == nullptr)
        return E_POINTER;
    CAutoLock lock(&m_csLock);
    if (!m_pSink)
        return E_UNEXPECTED;
    if (m_lState == OutputEnded)
        return S_FALSE;
    if (m_lState < Running || m_lState > TypeChangePending)
        return VFW_E_WRONG_STATE;

    HRESULT hr = TakeFrame(sample);
    if (hr == S_FALSE && m_lState == TypeChangePending) {
        hr = ApplyPendingType();
        if (FAILED(hr))
            return hr;
        hr = TakeFrame(sample);
    }
    if (hr == S_FALSE) {
        SetStateLocked(OutputEnded);
        return S_FALSE;
    }
    REFERENCE_TIME start = 0, stop = 0;
    if (hr == S_OK && sample->GetTime(&start, &stop) == S_OK && start < m_rtSegmentStart)
        return E_PENDING;
    return hr;
}
