#include "framework/platform/posix/filter_graph.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <new>

#include "framework/platform/posix/hresults.h"
#include "framework/platform/posix/sdk_guids.h"

namespace {

constexpr size_t kNotFound = size_t(-1);
constexpr unsigned kMaxNameSuffix = 9999;

template <class T> void ReleaseAll(std::vector<T*>& items) {
    for (T* item : items)
        item->Release();
    items.clear();
}

// The pins of a filter, each with a reference.
std::vector<IPin*> PinsOf(IBaseFilter* pFilter) {
    std::vector<IPin*> pins;
    IEnumPins* pEnum = nullptr;
    if (FAILED(pFilter->EnumPins(&pEnum)) || pEnum == nullptr)
        return pins;
    IPin* pPin = nullptr;
    ULONG fetched = 0;
    while (pEnum->Next(1, &pPin, &fetched) == S_OK && fetched == 1 && pPin != nullptr) {
        pins.push_back(pPin);
        pPin = nullptr;
    }
    pEnum->Release();
    return pins;
}

bool IsOutput(IPin* pPin) {
    PIN_DIRECTION dir = PINDIR_INPUT;
    return SUCCEEDED(pPin->QueryDirection(&dir)) && dir == PINDIR_OUTPUT;
}

// The filter owning a pin, with a reference, or null.
IBaseFilter* OwnerOf(IPin* pPin) {
    PIN_INFO info = {};
    if (FAILED(pPin->QueryPinInfo(&info)))
        return nullptr;
    return info.pFilter;
}

// The filter connected downstream of an output pin, with a reference, or null.
IBaseFilter* DownstreamOf(IPin* pPin) {
    IPin* pPeer = nullptr;
    if (pPin->ConnectedTo(&pPeer) != S_OK || pPeer == nullptr)
        return nullptr;
    IBaseFilter* pOwner = OwnerOf(pPeer);
    pPeer->Release();
    return pOwner;
}

} // namespace

bool CFilterGraph::IsRenderer(IBaseFilter* pFilter) {
    IAMFilterMiscFlags* pFlags = nullptr;
    if (SUCCEEDED(
            pFilter->QueryInterface(IID_IAMFilterMiscFlags, reinterpret_cast<void**>(&pFlags))) &&
        pFlags != nullptr) {
        const ULONG flags = pFlags->GetMiscFlags();
        pFlags->Release();
        if (flags & AM_FILTER_MISC_FLAGS_IS_RENDERER)
            return true;
    }
    std::vector<IPin*> pins = PinsOf(pFilter);
    size_t inputs = 0, outputs = 0;
    for (IPin* pPin : pins)
        ++(IsOutput(pPin) ? outputs : inputs);
    ReleaseAll(pins);
    return inputs > 0 && outputs == 0;
}

namespace {

// IEnumFilters over a snapshot of the graph's filters.
class CFilterEnum final : public CUnknownImpl<ComInterface<IEnumFilters, IID_IEnumFilters>> {
public:
    explicit CFilterEnum(const std::vector<IBaseFilter*>& filters) : m_filters(filters) {
        for (IBaseFilter* pFilter : m_filters)
            pFilter->AddRef();
    }
    ~CFilterEnum() override { ReleaseAll(m_filters); }

    STDMETHODIMP Next(ULONG cFilters, IBaseFilter** ppFilter, ULONG* pcFetched) override {
        if (ppFilter == nullptr || (pcFetched == nullptr && cFilters != 1))
            return E_POINTER;
        ULONG fetched = 0;
        while (fetched < cFilters && m_position < m_filters.size()) {
            ppFilter[fetched] = m_filters[m_position++];
            ppFilter[fetched++]->AddRef();
        }
        if (pcFetched != nullptr)
            *pcFetched = fetched;
        return fetched == cFilters ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG) override { return E_NOTIMPL; }
    STDMETHODIMP Reset() override {
        m_position = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(IEnumFilters** ppEnum) override {
        if (ppEnum != nullptr)
            *ppEnum = nullptr;
        return E_NOTIMPL;
    }

private:
    std::vector<IBaseFilter*> m_filters; // references
    size_t m_position = 0;               // the enumerator is used by one thread at a time
};

} // namespace

CFilterGraph::CFilterGraph() = default;

CFilterGraph::~CFilterGraph() {
    CGraphLock lock(m_csGraph);
    StopLocked();
    while (!m_filters.empty())
        RemoveFilterLocked(m_filters.size() - 1);
    if (m_pClock != nullptr)
        m_pClock->Release();
}

HRESULT CFilterGraph::CreateInstance(IUnknown* pOuter, REFIID riid, void** ppv) {
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = nullptr;
    if (pOuter != nullptr)
        return CLASS_E_NOAGGREGATION;
    CFilterGraph* pGraph = new (std::nothrow) CFilterGraph();
    if (pGraph == nullptr)
        return E_OUTOFMEMORY;
    pGraph->AddRef();
    const HRESULT hr = pGraph->QueryInterface(riid, ppv);
    pGraph->Release();
    return hr;
}

// --- IFilterGraph / IGraphBuilder -------------------------------------------------------

size_t CFilterGraph::FindFilterLocked(IBaseFilter* pFilter) const {
    for (size_t i = 0; i < m_filters.size(); ++i)
        if (m_filters[i].pFilter == pFilter)
            return i;
    return kNotFound;
}

bool CFilterGraph::NameInUseLocked(const std::wstring& name) const {
    return std::any_of(m_filters.begin(), m_filters.end(),
                       [&](const FilterEntry& entry) { return entry.name == name; });
}

bool CFilterGraph::PinInGraphLocked(IPin* pPin) const {
    IBaseFilter* pOwner = OwnerOf(pPin);
    const bool found = pOwner != nullptr && FindFilterLocked(pOwner) != kNotFound;
    if (pOwner != nullptr)
        pOwner->Release();
    return found;
}

STDMETHODIMP CFilterGraph::AddFilter(IBaseFilter* pFilter, LPCWSTR pName) {
    if (pFilter == nullptr)
        return E_POINTER;
    CGraphLock lock(m_csGraph);
    if (FindFilterLocked(pFilter) != kNotFound)
        return E_INVALIDARG;

    // Room for a " 0001" suffix within FILTER_INFO's name.
    constexpr size_t kMaxBase = MAX_FILTER_NAME - 1 - 5;
    std::wstring name;
    HRESULT result = S_OK;
    if (pName == nullptr || *pName == L'\0') {
        do {
            name = L"Filter " + std::to_wstring(++m_nGeneratedName);
        } while (NameInUseLocked(name));
    } else {
        name.assign(pName, std::min(std::char_traits<WCHAR>::length(pName), kMaxBase));
        if (NameInUseLocked(name)) {
            const std::wstring base = name;
            unsigned suffix = 1;
            for (; suffix <= kMaxNameSuffix; ++suffix) {
                wchar_t digits[8];
                std::swprintf(digits, 8, L" %04u", suffix);
                name = base + digits;
                if (!NameInUseLocked(name))
                    break;
            }
            if (suffix > kMaxNameSuffix)
                return VFW_E_DUPLICATE_NAME;
            result = VFW_S_DUPLICATE_NAME;
        }
    }

    try {
        m_filters.reserve(m_filters.size() + 1);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    const HRESULT hr = pFilter->JoinFilterGraph(static_cast<IGraphBuilder*>(this), name.c_str());
    if (FAILED(hr))
        return hr;
    pFilter->AddRef();
    m_filters.push_back(FilterEntry{pFilter, std::move(name)});
    if (m_pClock != nullptr)
        pFilter->SetSyncSource(m_pClock);
    return result;
}

void CFilterGraph::RemoveFilterLocked(size_t index) {
    IBaseFilter* pFilter = m_filters[index].pFilter;
    m_filters.erase(m_filters.begin() + ptrdiff_t(index));
    if (m_state != State_Stopped)
        pFilter->Stop();
    std::vector<IPin*> pins = PinsOf(pFilter);
    for (IPin* pPin : pins) {
        IPin* pPeer = nullptr;
        if (pPin->ConnectedTo(&pPeer) == S_OK && pPeer != nullptr) {
            pPeer->Disconnect();
            pPin->Disconnect();
            pPeer->Release();
        }
    }
    ReleaseAll(pins);
    pFilter->JoinFilterGraph(nullptr, nullptr);
    pFilter->Release();
}

STDMETHODIMP CFilterGraph::RemoveFilter(IBaseFilter* pFilter) {
    if (pFilter == nullptr)
        return E_POINTER;
    CGraphLock lock(m_csGraph);
    const size_t index = FindFilterLocked(pFilter);
    if (index == kNotFound)
        return VFW_E_NOT_FOUND;
    RemoveFilterLocked(index);
    return S_OK;
}

STDMETHODIMP CFilterGraph::EnumFilters(IEnumFilters** ppEnum) {
    if (ppEnum == nullptr)
        return E_POINTER;
    CGraphLock lock(m_csGraph);
    std::vector<IBaseFilter*> filters;
    for (const FilterEntry& entry : m_filters)
        filters.push_back(entry.pFilter);
    *ppEnum = new (std::nothrow) CFilterEnum(filters);
    if (*ppEnum == nullptr)
        return E_OUTOFMEMORY;
    (*ppEnum)->AddRef();
    return S_OK;
}

STDMETHODIMP CFilterGraph::ConnectDirect(IPin* ppinOut, IPin* ppinIn, const AM_MEDIA_TYPE* pmt) {
    if (ppinOut == nullptr || ppinIn == nullptr)
        return E_POINTER;
    CGraphLock lock(m_csGraph);
    if (m_state != State_Stopped)
        return VFW_E_NOT_STOPPED;
    if (!PinInGraphLocked(ppinOut) || !PinInGraphLocked(ppinIn))
        return VFW_E_NOT_IN_GRAPH;
    if (!IsOutput(ppinOut) || IsOutput(ppinIn))
        return VFW_E_INVALID_DIRECTION;
    return ppinOut->Connect(ppinIn, pmt);
}

STDMETHODIMP CFilterGraph::FindFilterByName(LPCWSTR, IBaseFilter** ppFilter) {
    if (ppFilter != nullptr)
        *ppFilter = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CFilterGraph::Reconnect(IPin*) {
    return E_NOTIMPL;
}

STDMETHODIMP CFilterGraph::Disconnect(IPin*) {
    return E_NOTIMPL;
}

STDMETHODIMP CFilterGraph::Connect(IPin*, IPin*) {
    return E_NOTIMPL;
}

STDMETHODIMP CFilterGraph::Render(IPin*) {
    return E_NOTIMPL;
}

STDMETHODIMP CFilterGraph::RenderFile(LPCWSTR, LPCWSTR) {
    return E_NOTIMPL;
}

STDMETHODIMP CFilterGraph::AddSourceFilter(LPCWSTR, LPCWSTR, IBaseFilter** ppFilter) {
    if (ppFilter != nullptr)
        *ppFilter = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CFilterGraph::SetLogFile(DWORD_PTR) {
    return E_NOTIMPL;
}

STDMETHODIMP CFilterGraph::Abort() {
    return E_NOTIMPL;
}

STDMETHODIMP CFilterGraph::ShouldOperationContinue() {
    return E_NOTIMPL;
}

std::vector<IBaseFilter*> CFilterGraph::DownstreamFirstLocked() const {
    std::vector<IBaseFilter*> order;
    std::vector<bool> visited(m_filters.size(), false);
    // Depth first along the output pins: a filter is placed after all it feeds.
    std::function<void(size_t)> visit = [&](size_t index) {
        if (visited[index])
            return;
        visited[index] = true;
        std::vector<IPin*> pins = PinsOf(m_filters[index].pFilter);
        for (IPin* pPin : pins) {
            if (!IsOutput(pPin))
                continue;
            IBaseFilter* pDownstream = DownstreamOf(pPin);
            if (pDownstream == nullptr)
                continue;
            const size_t next = FindFilterLocked(pDownstream);
            pDownstream->Release();
            if (next != kNotFound)
                visit(next);
        }
        ReleaseAll(pins);
        order.push_back(m_filters[index].pFilter);
    };
    for (size_t i = 0; i < m_filters.size(); ++i)
        visit(i);
    return order;
}
