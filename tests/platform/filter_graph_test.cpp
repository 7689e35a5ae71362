#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "framework/mem_allocator.h"
#include "framework/platform/platform.h"
#include "framework/platform/posix/filter_graph.h"
#include "framework/platform/posix/reference_clock.h"
#include "framework/platform/sync.h"

namespace {

constexpr REFERENCE_TIME kSampleDuration = 400000; // 40 ms
constexpr REFERENCE_TIME kMs = 10000;

// The state changes of a test's filters, in call order ("sink:Pause").
class CallLog {
public:
    void Add(const std::string& call) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_calls.push_back(call);
    }
    std::vector<std::string> Take() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return std::move(m_calls);
    }

private:
    std::mutex m_mutex;
    std::vector<std::string> m_calls;
};

class TestFilter;

// A pin of a test filter; it shares the filter's reference count. Input pins also take
// samples through IMemInputPin.
class TestPin final : public IPin, public IMemInputPin {
public:
    TestPin(TestFilter* owner, PIN_DIRECTION dir) : m_owner(owner), m_dir(dir) {}
    ~TestPin() {
        if (m_peer)
            m_peer->Release();
        if (m_peerInput)
            m_peerInput->Release();
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP Connect(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) override {
        if (m_peer)
            return VFW_E_ALREADY_CONNECTED;
        AM_MEDIA_TYPE proposed = {};
        proposed.majortype = MEDIATYPE_Video;
        const AM_MEDIA_TYPE* type = pmt ? pmt : &proposed;
        const HRESULT hr = pReceivePin->ReceiveConnection(this, type);
        if (FAILED(hr))
            return hr;
        m_type = *type;
        m_peer = pReceivePin;
        m_peer->AddRef();
        m_peer->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&m_peerInput));
        return S_OK;
    }
    STDMETHODIMP ReceiveConnection(IPin* pConnector, const AM_MEDIA_TYPE* pmt) override {
        if (m_refuse)
            return VFW_E_TYPE_NOT_ACCEPTED;
        if (m_peer)
            return VFW_E_ALREADY_CONNECTED;
        m_type = *pmt;
        m_peer = pConnector;
        m_peer->AddRef();
        return S_OK;
    }
    STDMETHODIMP Disconnect() override {
        if (!m_peer)
            return S_FALSE;
        m_peer->Release();
        m_peer = nullptr;
        if (m_peerInput)
            m_peerInput->Release();
        m_peerInput = nullptr;
        return S_OK;
    }
    STDMETHODIMP ConnectedTo(IPin** pPin) override {
        *pPin = m_peer;
        if (!m_peer)
            return VFW_E_NOT_CONNECTED;
        m_peer->AddRef();
        return S_OK;
    }
    STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE* pmt) override {
        if (!m_peer)
            return VFW_E_NOT_CONNECTED;
        *pmt = m_type;
        return S_OK;
    }
    STDMETHODIMP QueryPinInfo(PIN_INFO* pInfo) override;
    STDMETHODIMP QueryDirection(PIN_DIRECTION* pPinDir) override {
        *pPinDir = m_dir;
        return S_OK;
    }
    STDMETHODIMP QueryId(LPWSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE*) override { return S_OK; }
    STDMETHODIMP EnumMediaTypes(IEnumMediaTypes**) override { return E_NOTIMPL; }
    STDMETHODIMP QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }
    STDMETHODIMP EndOfStream() override;
    STDMETHODIMP BeginFlush() override { return S_OK; }
    STDMETHODIMP EndFlush() override { return S_OK; }
    STDMETHODIMP NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }

    STDMETHODIMP GetAllocator(IMemAllocator**) override { return VFW_E_NO_ALLOCATOR; }
    STDMETHODIMP NotifyAllocator(IMemAllocator*, BOOL) override { return S_OK; }
    STDMETHODIMP GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) override { return E_NOTIMPL; }
    STDMETHODIMP Receive(IMediaSample* pSample) override;
    STDMETHODIMP ReceiveMultiple(IMediaSample** pSamples, LONG n, LONG* done) override {
        for (*done = 0; *done < n; ++*done)
            Receive(pSamples[*done]);
        return S_OK;
    }
    STDMETHODIMP ReceiveCanBlock() override { return S_FALSE; }

    IPin* Peer() const { return m_peer; }
    IMemInputPin* PeerInput() const { return m_peerInput; }
    const AM_MEDIA_TYPE& Type() const { return m_type; }
    bool m_refuse = false;

private:
    TestFilter* const m_owner;
    const PIN_DIRECTION m_dir;
    IPin* m_peer = nullptr;
    IMemInputPin* m_peerInput = nullptr;
    AM_MEDIA_TYPE m_type = {};
};

// A filter on the raw interfaces: it logs its state changes and keeps what the graph
// told it. Subclasses deliver or take samples.
class TestFilter : public IBaseFilter, public IAMFilterMiscFlags {
public:
    TestFilter(const char* name, CallLog* log) : m_name(name), m_log(log) { m_cRef = 1; }
    virtual ~TestFilter() {
        for (TestPin* pin : m_pins)
            delete pin;
        if (m_clock)
            m_clock->Release();
    }

    TestPin* AddPin(PIN_DIRECTION dir) {
        m_pins.push_back(new TestPin(this, dir));
        return m_pins.back();
    }
    TestPin* Pin(size_t i) { return m_pins[i]; }
    ULONG Refs() const { return m_cRef; }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown || riid == IID_IPersist || riid == IID_IMediaFilter ||
            riid == IID_IBaseFilter)
            *ppv = static_cast<IBaseFilter*>(this);
        else if (riid == IID_IAMFilterMiscFlags && m_miscFlags != 0)
            *ppv = static_cast<IAMFilterMiscFlags*>(this);
        else if (!Extra(riid, ppv)) {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_cRef; }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG count = --m_cRef;
        if (count == 0)
            delete this;
        return count;
    }

    STDMETHODIMP GetClassID(CLSID* pClassID) override {
        *pClassID = GUID_NULL;
        return S_OK;
    }
    STDMETHODIMP Stop() override {
        m_log->Add(m_name + ":Stop");
        OnStop();
        m_state = State_Stopped;
        return S_OK;
    }
    STDMETHODIMP Pause() override {
        m_log->Add(m_name + ":Pause");
        if (FAILED(m_hrPause))
            return m_hrPause;
        m_state = State_Paused;
        return S_OK;
    }
    STDMETHODIMP Run(REFERENCE_TIME tStart) override {
        m_log->Add(m_name + ":Run");
        m_rtRunStart = tStart;
        m_state = State_Running;
        OnRun();
        return S_OK;
    }
    STDMETHODIMP GetState(DWORD, FILTER_STATE* State) override {
        *State = m_state;
        return m_hrGetState;
    }
    STDMETHODIMP SetSyncSource(IReferenceClock* pClock) override {
        if (pClock)
            pClock->AddRef();
        if (m_clock)
            m_clock->Release();
        m_clock = pClock;
        ++m_clockCalls;
        return S_OK;
    }
    STDMETHODIMP GetSyncSource(IReferenceClock** pClock) override {
        *pClock = m_clock;
        if (m_clock)
            m_clock->AddRef();
        return S_OK;
    }
    STDMETHODIMP EnumPins(IEnumPins** ppEnum) override;
    STDMETHODIMP FindPin(LPCWSTR, IPin**) override { return VFW_E_NOT_FOUND; }
    STDMETHODIMP QueryFilterInfo(FILTER_INFO*) override { return E_NOTIMPL; }
    STDMETHODIMP JoinFilterGraph(IFilterGraph* pGraph, LPCWSTR pName) override {
        m_graph = pGraph;
        m_joinedName = pName ? pName : L"";
        ++m_joins;
        // As filters do: the sink is kept without a reference, the graph outlives it.
        m_sink = nullptr;
        if (pGraph && SUCCEEDED(pGraph->QueryInterface(IID_IMediaEventSink,
                                                       reinterpret_cast<void**>(&m_sink))))
            m_sink->Release();
        return S_OK;
    }
    STDMETHODIMP QueryVendorInfo(LPWSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP_(ULONG) GetMiscFlags() override { return m_miscFlags; }

    virtual void OnReceive(IMediaSample*) {}
    virtual void OnEndOfStream() {}

    IBaseFilter* Base() { return this; }
    LONG_PTR Id() { return reinterpret_cast<LONG_PTR>(Base()); }

    HRESULT m_hrPause = S_OK;
    HRESULT m_hrGetState = S_OK;
    ULONG m_miscFlags = 0;
    IFilterGraph* m_graph = nullptr;
    IMediaEventSink* m_sink = nullptr;
    std::wstring m_joinedName;
    int m_joins = 0;
    int m_clockCalls = 0;
    IReferenceClock* m_clock = nullptr;
    REFERENCE_TIME m_rtRunStart = -1;

protected:
    virtual bool Extra(REFIID, void**) { return false; }
    virtual void OnRun() {}
    virtual void OnStop() {}

    const std::string m_name;
    CallLog* const m_log;
    FILTER_STATE m_state = State_Stopped;
    std::vector<TestPin*> m_pins;

private:
    std::atomic<ULONG> m_cRef;
};

class TestPinEnum final : public IEnumPins {
public:
    explicit TestPinEnum(std::vector<IPin*> pins) : m_pins(std::move(pins)) {
        for (IPin* pin : m_pins)
            pin->AddRef();
    }
    ~TestPinEnum() {
        for (IPin* pin : m_pins)
            pin->Release();
    }
    STDMETHODIMP QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_cRef; }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG count = --m_cRef;
        if (count == 0)
            delete this;
        return count;
    }
    STDMETHODIMP Next(ULONG c, IPin** pins, ULONG* fetched) override {
        ULONG n = 0;
        for (; n < c && m_next < m_pins.size(); ++n) {
            pins[n] = m_pins[m_next++];
            pins[n]->AddRef();
        }
        if (fetched)
            *fetched = n;
        return n == c ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG) override { return E_NOTIMPL; }
    STDMETHODIMP Reset() override {
        m_next = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(IEnumPins**) override { return E_NOTIMPL; }

private:
    std::atomic<ULONG> m_cRef{1};
    std::vector<IPin*> m_pins;
    size_t m_next = 0;
};

STDMETHODIMP TestFilter::EnumPins(IEnumPins** ppEnum) {
    *ppEnum = new TestPinEnum(std::vector<IPin*>(m_pins.begin(), m_pins.end()));
    return S_OK;
}

STDMETHODIMP TestPin::QueryInterface(REFIID riid, void** ppv) {
    if (riid == IID_IUnknown || riid == IID_IPin)
        *ppv = static_cast<IPin*>(this);
    else if (riid == IID_IMemInputPin && m_dir == PINDIR_INPUT)
        *ppv = static_cast<IMemInputPin*>(this);
    else {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}
STDMETHODIMP_(ULONG) TestPin::AddRef() {
    return m_owner->AddRef();
}
STDMETHODIMP_(ULONG) TestPin::Release() {
    return m_owner->Release();
}
STDMETHODIMP TestPin::QueryPinInfo(PIN_INFO* pInfo) {
    pInfo->pFilter = m_owner;
    m_owner->AddRef();
    pInfo->dir = m_dir;
    pInfo->achName[0] = L'\0';
    return S_OK;
}
STDMETHODIMP TestPin::EndOfStream() {
    m_owner->OnEndOfStream();
    return S_OK;
}
STDMETHODIMP TestPin::Receive(IMediaSample* pSample) {
    m_owner->OnReceive(pSample);
    return S_OK;
}

// A source with one output pin: on Run it delivers m_count samples from its own
// allocator on a thread, 40 ms apart in stream time, then ends the stream. With
// m_failAfter it stops there, reports EC_ERRORABORT with m_hrFail and ends the stream,
// as a source pin does when its fill fails.
class TestSource final : public TestFilter {
public:
    TestSource(const char* name, CallLog* log) : TestFilter(name, log) {
        AddPin(PINDIR_OUTPUT);
        m_allocator = new CMemAllocator();
        m_allocator->AddRef();
        ALLOCATOR_PROPERTIES request = {2, 64, 1, 0}, actual = {};
        m_allocator->SetProperties(&request, &actual);
    }
    ~TestSource() {
        OnStop();
        m_allocator->Release();
    }

    int m_count = 3;
    int m_failAfter = -1;
    HRESULT m_hrFail = E_FAIL;

protected:
    void OnRun() override {
        if (m_thread.joinable() || !Pin(0)->PeerInput())
            return;
        m_allocator->Commit();
        m_thread = std::thread([this] { Deliver(); });
    }
    void OnStop() override {
        m_allocator->Decommit();
        if (m_thread.joinable())
            m_thread.join();
    }

private:
    void Deliver() {
        const int count = m_failAfter >= 0 ? m_failAfter : m_count;
        for (int i = 0; i < count; ++i) {
            IMediaSample* sample = nullptr;
            if (FAILED(m_allocator->GetBuffer(&sample, nullptr, nullptr, 0)))
                return;
            REFERENCE_TIME start = i * kSampleDuration, stop = start + kSampleDuration;
            sample->SetTime(&start, &stop);
            Pin(0)->PeerInput()->Receive(sample);
            sample->Release();
        }
        if (m_failAfter >= 0)
            m_sink->Notify(EC_ERRORABORT, m_hrFail, 0);
        Pin(0)->Peer()->EndOfStream();
    }

    IMemAllocator* m_allocator;
    std::thread m_thread;
};

// A sink with one input pin: keeps the start times it receives and reports EC_COMPLETE
// with itself as sender on end of stream.
class TestSink final : public TestFilter {
public:
    TestSink(const char* name, CallLog* log) : TestFilter(name, log) { AddPin(PINDIR_INPUT); }

    void OnReceive(IMediaSample* sample) override {
        REFERENCE_TIME start = -1, stop = -1;
        sample->GetTime(&start, &stop);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_starts.push_back(start);
    }
    void OnEndOfStream() override {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            ++m_ends;
        }
        m_sink->Notify(EC_COMPLETE, S_OK, Id());
    }
    std::vector<REFERENCE_TIME> Starts() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_starts;
    }
    int Ends() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_ends;
    }

private:
    std::mutex m_mutex;
    std::vector<REFERENCE_TIME> m_starts; // guarded by m_mutex
    int m_ends = 0;                       // guarded by m_mutex
};

// A filter with an output pin and IMediaSeeking that keeps what it was told.
class SeekingFilter final : public TestFilter, public IMediaSeeking {
public:
    SeekingFilter(const char* name, CallLog* log) : TestFilter(name, log) { AddPin(PINDIR_OUTPUT); }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        return TestFilter::QueryInterface(riid, ppv);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return TestFilter::AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return TestFilter::Release(); }

    STDMETHODIMP GetCapabilities(DWORD* caps) override {
        *caps = m_caps;
        return S_OK;
    }
    STDMETHODIMP GetDuration(LONGLONG* duration) override {
        *duration = m_duration;
        return S_OK;
    }
    STDMETHODIMP GetCurrentPosition(LONGLONG* current) override {
        *current = m_current;
        return m_hrCurrent;
    }
    STDMETHODIMP SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG*, DWORD) override {
        m_log->Add(m_name + ":SetPositions");
        m_received = *current;
        if ((currentFlags & AM_SEEKING_PositioningBitsMask) == AM_SEEKING_RelativePositioning)
            m_current += *current;
        else if (currentFlags & AM_SEEKING_PositioningBitsMask)
            m_current = *current;
        if (currentFlags & AM_SEEKING_ReturnTime)
            *current = m_current;
        return S_OK;
    }
    // The graph does not forward the rest.
    STDMETHODIMP CheckCapabilities(DWORD*) override { return E_UNEXPECTED; }
    STDMETHODIMP IsFormatSupported(const GUID*) override { return E_UNEXPECTED; }
    STDMETHODIMP QueryPreferredFormat(GUID*) override { return E_UNEXPECTED; }
    STDMETHODIMP GetTimeFormat(GUID*) override { return E_UNEXPECTED; }
    STDMETHODIMP IsUsingTimeFormat(const GUID*) override { return E_UNEXPECTED; }
    STDMETHODIMP SetTimeFormat(const GUID*) override { return E_UNEXPECTED; }
    STDMETHODIMP GetStopPosition(LONGLONG*) override { return E_UNEXPECTED; }
    STDMETHODIMP ConvertTimeFormat(LONGLONG*, const GUID*, LONGLONG, const GUID*) override {
        return E_UNEXPECTED;
    }
    STDMETHODIMP GetPositions(LONGLONG*, LONGLONG*) override { return E_UNEXPECTED; }
    STDMETHODIMP GetAvailable(LONGLONG*, LONGLONG*) override { return E_UNEXPECTED; }
    STDMETHODIMP SetRate(double) override { return E_UNEXPECTED; }
    STDMETHODIMP GetRate(double*) override { return E_UNEXPECTED; }
    STDMETHODIMP GetPreroll(LONGLONG*) override { return E_UNEXPECTED; }

    DWORD m_caps = 0x37;
    LONGLONG m_duration = 0;
    LONGLONG m_current = 0;
    LONGLONG m_received = -1;
    HRESULT m_hrCurrent = S_OK;

protected:
    bool Extra(REFIID riid, void** ppv) override {
        if (riid != IID_IMediaSeeking)
            return false;
        *ppv = static_cast<IMediaSeeking*>(this);
        return true;
    }
};

// The host's view of one graph.
struct Graph {
    Graph() {
        EXPECT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                                         IID_IGraphBuilder, reinterpret_cast<void**>(&builder)));
        builder->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control));
        builder->QueryInterface(IID_IMediaEventEx, reinterpret_cast<void**>(&events));
        builder->QueryInterface(IID_IMediaFilter, reinterpret_cast<void**>(&filter));
        builder->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&sink));
    }
    ~Graph() {
        sink->Release();
        filter->Release();
        events->Release();
        control->Release();
        builder->Release();
    }
    // The next queued event, or code 0 when none is queued.
    LONG NextEvent(LONG_PTR* p1 = nullptr, LONG_PTR* p2 = nullptr, LONG msTimeout = 0) {
        LONG code = 0;
        LONG_PTR a = 0, b = 0;
        events->GetEvent(&code, &a, &b, msTimeout);
        if (p1)
            *p1 = a;
        if (p2)
            *p2 = b;
        return code;
    }
    FILTER_STATE State() {
        OAFilterState state = -1;
        control->GetState(0, &state);
        return FILTER_STATE(state);
    }

    IGraphBuilder* builder = nullptr;
    IMediaControl* control = nullptr;
    IMediaEventEx* events = nullptr;
    IMediaFilter* filter = nullptr;
    IMediaEventSink* sink = nullptr;
};

std::vector<std::wstring> FilterNames(Graph& graph) {
    std::vector<std::wstring> names;
    IEnumFilters* filters = nullptr;
    EXPECT_EQ(S_OK, graph.builder->EnumFilters(&filters));
    IBaseFilter* filter = nullptr;
    while (filters->Next(1, &filter, nullptr) == S_OK) {
        names.push_back(static_cast<TestFilter*>(filter)->m_joinedName);
        filter->Release();
    }
    filters->Release();
    return names;
}

using Calls = std::vector<std::string>;

} // namespace

TEST(FilterGraph, AddFilter_NamesEnumRemove_JoinsWithUniqueNames) {
    CallLog log;
    TestSink* first = new TestSink("a", &log);
    TestSink* second = new TestSink("b", &log);
    TestSink* unnamed = new TestSink("c", &log);
    {
        Graph graph;
        IFilterGraph* asFilterGraph = nullptr;
        graph.builder->QueryInterface(IID_IFilterGraph, reinterpret_cast<void**>(&asFilterGraph));

        EXPECT_EQ(S_OK, graph.builder->AddFilter(first, L"Sink"));
        EXPECT_EQ(asFilterGraph, first->m_graph);
        EXPECT_EQ(L"Sink", first->m_joinedName);
        EXPECT_NE(nullptr, first->m_sink);
        EXPECT_EQ(VFW_S_DUPLICATE_NAME, graph.builder->AddFilter(second, L"Sink"));
        EXPECT_EQ(L"Sink 0001", second->m_joinedName);
        EXPECT_EQ(S_OK, graph.builder->AddFilter(unnamed, nullptr));
        EXPECT_FALSE(unnamed->m_joinedName.empty());
        EXPECT_EQ(E_INVALIDARG, graph.builder->AddFilter(first, L"Again"));
        EXPECT_EQ(1, first->m_joins);
        EXPECT_EQ(E_POINTER, graph.builder->AddFilter(nullptr, L"x"));
        asFilterGraph->Release();

        EXPECT_EQ((std::vector<std::wstring>{L"Sink", L"Sink 0001", unnamed->m_joinedName}),
                  FilterNames(graph));
        // Several at once, then the end.
        IEnumFilters* filters = nullptr;
        graph.builder->EnumFilters(&filters);
        IBaseFilter* got[4] = {};
        ULONG fetched = 0;
        EXPECT_EQ(S_FALSE, filters->Next(4, got, &fetched));
        ASSERT_EQ(3u, fetched);
        EXPECT_EQ(unnamed->Base(), got[2]);
        for (ULONG i = 0; i < fetched; ++i)
            got[i]->Release();
        void* none = filters;
        EXPECT_EQ(E_NOINTERFACE, filters->QueryInterface(IID_IPin, &none));
        EXPECT_EQ(nullptr, none);
        filters->Release();

        EXPECT_EQ(S_OK, graph.builder->RemoveFilter(second));
        EXPECT_EQ(nullptr, second->m_graph);
        EXPECT_EQ(2, second->m_joins);
        EXPECT_EQ(1u, second->Refs());
        EXPECT_EQ(VFW_E_NOT_FOUND, graph.builder->RemoveFilter(second));
        EXPECT_EQ((std::vector<std::wstring>{L"Sink", unnamed->m_joinedName}), FilterNames(graph));
        // The freed name can be used again.
        EXPECT_EQ(S_OK, graph.builder->AddFilter(second, L"Sink 0001"));
        EXPECT_EQ(2u, first->Refs());
    }
    // Releasing the graph lets every filter go.
    for (TestSink* sink : {first, second, unnamed}) {
        EXPECT_EQ(nullptr, sink->m_graph);
        EXPECT_EQ(1u, sink->Refs());
        sink->Release();
    }
}

TEST(FilterGraph, ConnectDirect_PinsInGraph_ConnectsThroughOutputPinOnly) {
    CallLog log;
    TestSource* source = new TestSource("src", &log);
    TestSink* sink = new TestSink("sink", &log);
    TestSink* refusing = new TestSink("refusing", &log);
    TestSink* outsider = new TestSink("outsider", &log);
    refusing->Pin(0)->m_refuse = true;
    {
        Graph graph;
        graph.builder->AddFilter(source, L"src");
        graph.builder->AddFilter(sink, L"sink");
        graph.builder->AddFilter(refusing, L"refusing");
        TestPin* out = source->Pin(0);
        TestPin* in = sink->Pin(0);

        EXPECT_EQ(VFW_E_NOT_IN_GRAPH, graph.builder->ConnectDirect(out, outsider->Pin(0), nullptr));
        EXPECT_EQ(VFW_E_INVALID_DIRECTION, graph.builder->ConnectDirect(in, out, nullptr));
        // No intelligent connect: the pin's refusal is the answer.
        EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED,
                  graph.builder->ConnectDirect(out, refusing->Pin(0), nullptr));
        EXPECT_EQ(nullptr, out->Peer());

        AM_MEDIA_TYPE type = {};
        type.majortype = MEDIATYPE_Audio;
        type.subtype = MEDIASUBTYPE_RGB24;
        ASSERT_EQ(S_OK, graph.builder->ConnectDirect(out, in, &type));
        EXPECT_EQ(in, out->Peer());
        EXPECT_EQ(out, in->Peer());
        EXPECT_EQ(MEDIASUBTYPE_RGB24, in->Type().subtype);
        EXPECT_EQ(VFW_E_ALREADY_CONNECTED, graph.builder->ConnectDirect(out, in, nullptr));

        // Without a type the output pin proposes its own; RemoveFilter frees both ends.
        EXPECT_EQ(S_OK, graph.builder->RemoveFilter(sink));
        EXPECT_EQ(nullptr, in->Peer());
        EXPECT_EQ(nullptr, out->Peer());
        graph.builder->AddFilter(sink, L"sink");
        ASSERT_EQ(S_OK, graph.builder->ConnectDirect(out, in, nullptr));
        EXPECT_EQ(MEDIATYPE_Video, in->Type().majortype);

        graph.filter->SetSyncSource(nullptr);
        ASSERT_EQ(S_OK, graph.control->Pause());
        EXPECT_EQ(VFW_E_NOT_STOPPED, graph.builder->ConnectDirect(out, refusing->Pin(0), nullptr));
        // A filter leaving a paused graph is stopped first.
        log.Take();
        EXPECT_EQ(S_OK, graph.builder->RemoveFilter(sink));
        EXPECT_EQ((Calls{"sink:Stop"}), log.Take());
        graph.control->Stop();
    }
    // The graph disconnected what it held on release: no pin keeps a reference.
    for (TestFilter* filter : std::vector<TestFilter*>{source, sink, refusing, outsider}) {
        EXPECT_EQ(1u, filter->Refs());
        filter->Release();
    }
}

TEST(FilterGraph, StateChanges_Chain_AppliedToSinksBeforeSources) {
    CallLog log;
    TestSource* source = new TestSource("src", &log);
    TestSink* sink = new TestSink("sink", &log);
    source->m_count = 0;
    {
        Graph graph;
        // Added source first: the order comes from the connections, not from AddFilter.
        graph.builder->AddFilter(source, L"src");
        graph.builder->AddFilter(sink, L"sink");
        ASSERT_EQ(S_OK, graph.builder->ConnectDirect(source->Pin(0), sink->Pin(0), nullptr));
        graph.filter->SetSyncSource(nullptr);

        ASSERT_EQ(S_OK, graph.control->Run());
        EXPECT_EQ((Calls{"sink:Pause", "src:Pause", "sink:Run", "src:Run"}), log.Take());
        EXPECT_EQ(State_Running, graph.State());
        EXPECT_EQ(S_OK, graph.control->Run());
        EXPECT_TRUE(log.Take().empty());

        ASSERT_EQ(S_OK, graph.control->Pause());
        EXPECT_EQ((Calls{"sink:Pause", "src:Pause"}), log.Take());
        sink->m_hrGetState = VFW_S_STATE_INTERMEDIATE;
        OAFilterState state = -1;
        EXPECT_EQ(VFW_S_STATE_INTERMEDIATE, graph.control->GetState(10, &state));
        EXPECT_EQ(State_Paused, state);
        sink->m_hrGetState = VFW_S_CANT_CUE;
        EXPECT_EQ(VFW_S_CANT_CUE, graph.control->GetState(10, &state));
        sink->m_hrGetState = S_OK;

        ASSERT_EQ(S_OK, graph.control->Run());
        ASSERT_EQ(S_OK, graph.control->Stop());
        EXPECT_EQ(
            (Calls{"sink:Run", "src:Run", "sink:Pause", "src:Pause", "sink:Stop", "src:Stop"}),
            log.Take());
        EXPECT_EQ(State_Stopped, graph.State());

        // A filter that fails to pause fails the run; the graph ends up stopped.
        source->m_hrPause = E_OUTOFMEMORY;
        EXPECT_EQ(E_OUTOFMEMORY, graph.control->Run());
        EXPECT_EQ((Calls{"sink:Pause", "src:Pause", "sink:Stop", "src:Stop"}), log.Take());
        EXPECT_EQ(State_Stopped, graph.State());
    }
    source->Release();
    sink->Release();
}

TEST(FilterGraph, Run_WithAndWithoutClock_StartTimeFromGraphClock) {
    CallLog log;
    TestSource* source = new TestSource("src", &log);
    TestSink* sink = new TestSink("sink", &log);
    source->m_count = 0;
    {
        Graph graph;
        graph.builder->AddFilter(source, L"src");
        graph.builder->AddFilter(sink, L"sink");
        graph.builder->ConnectDirect(source->Pin(0), sink->Pin(0), nullptr);

        // Without SetSyncSource the first run chooses the system clock.
        ASSERT_EQ(S_OK, graph.control->Pause());
        IReferenceClock* clock = sink->m_clock;
        ASSERT_NE(nullptr, clock);
        clock->AddRef();
        EXPECT_EQ(clock, source->m_clock);
        REFERENCE_TIME before = 0, after = 0;
        clock->GetTime(&before);
        ASSERT_EQ(S_OK, graph.control->Run());
        clock->GetTime(&after);
        EXPECT_GE(source->m_rtRunStart, before);
        EXPECT_LE(source->m_rtRunStart, after);
        EXPECT_EQ(source->m_rtRunStart, sink->m_rtRunStart);
        EXPECT_EQ(VFW_E_NOT_STOPPED, graph.filter->SetSyncSource(nullptr));

        // Paused for 30 ms: the next run starts 30 ms later, so stream time continues.
        const REFERENCE_TIME firstStart = source->m_rtRunStart;
        ASSERT_EQ(S_OK, graph.control->Pause());
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        ASSERT_EQ(S_OK, graph.control->Run());
        EXPECT_GE(source->m_rtRunStart - firstStart, 30 * kMs);

        // A new clock may be set only once stopped; none means start time 0.
        graph.control->Stop();
        const int calls = sink->m_clockCalls;
        ASSERT_EQ(S_OK, graph.filter->SetSyncSource(nullptr));
        EXPECT_EQ(calls + 1, sink->m_clockCalls);
        EXPECT_EQ(nullptr, sink->m_clock);
        ASSERT_EQ(S_OK, graph.control->Run());
        EXPECT_EQ(0, source->m_rtRunStart);

        // SetDefaultSyncSource gives every filter a clock again.
        graph.control->Stop();
        ASSERT_EQ(S_OK, graph.builder->SetDefaultSyncSource());
        EXPECT_NE(nullptr, sink->m_clock);
        EXPECT_NE(nullptr, source->m_clock);
        // A filter added later gets the graph clock too.
        TestSink* late = new TestSink("late", &log);
        graph.builder->AddFilter(late, L"late");
        EXPECT_EQ(sink->m_clock, late->m_clock);
        late->Release();
        clock->Release();
    }
    source->Release();
    sink->Release();
}

// Three renderers: two sinks and a filter with an output pin flagged as a renderer.
TEST(FilterGraph, Notify_Renderers_CompleteOnlyAfterEveryRendererEnded) {
    CallLog log;
    TestSource* source = new TestSource("src", &log);
    TestSink* sink1 = new TestSink("sink1", &log);
    TestSink* sink2 = new TestSink("sink2", &log);
    TestSource* flagged = new TestSource("flagged", &log);
    flagged->m_miscFlags = AM_FILTER_MISC_FLAGS_IS_RENDERER;
    {
        Graph graph;
        for (TestFilter* filter : std::vector<TestFilter*>{source, sink1, sink2, flagged})
            graph.builder->AddFilter(filter, nullptr);
        graph.filter->SetSyncSource(nullptr);

        // Reports before Run do not count.
        graph.sink->Notify(EC_COMPLETE, S_OK, sink1->Id());
        ASSERT_EQ(S_OK, graph.control->Run());
        EXPECT_EQ(0, graph.NextEvent());

        graph.sink->Notify(EC_COMPLETE, S_OK, sink1->Id());
        graph.sink->Notify(EC_COMPLETE, S_OK, sink1->Id());  // twice from one renderer
        graph.sink->Notify(EC_COMPLETE, S_OK, source->Id()); // not a renderer
        EXPECT_EQ(0, graph.NextEvent());

        // Other codes pass through unchanged, in order.
        graph.sink->Notify(EC_ERRORABORT, E_OUTOFMEMORY, 7);
        graph.sink->Notify(EC_USER + 1, 5, 6);
        LONG_PTR p1 = 0, p2 = 0;
        EXPECT_EQ(EC_ERRORABORT, graph.NextEvent(&p1, &p2));
        EXPECT_EQ(E_OUTOFMEMORY, p1);
        EXPECT_EQ(7, p2);
        EXPECT_EQ(EC_USER + 1, graph.NextEvent(&p1, &p2));
        EXPECT_EQ(5, p1);
        EXPECT_EQ(6, p2);

        graph.sink->Notify(EC_COMPLETE, S_OK, sink2->Id());
        EXPECT_EQ(0, graph.NextEvent());
        graph.sink->Notify(EC_COMPLETE, VFW_E_RUNTIME_ERROR, 0); // anonymous: the flagged one
        EXPECT_EQ(EC_COMPLETE, graph.NextEvent(&p1, &p2));
        EXPECT_EQ(VFW_E_RUNTIME_ERROR, p1);
        EXPECT_EQ(0, p2);
        EXPECT_EQ(0, graph.NextEvent());

        // Each run counts again from none.
        graph.control->Stop();
        graph.control->Run();
        graph.sink->Notify(EC_COMPLETE, S_OK, sink1->Id());
        graph.sink->Notify(EC_COMPLETE, S_OK, sink2->Id());
        EXPECT_EQ(0, graph.NextEvent());
        graph.sink->Notify(EC_COMPLETE, S_OK, flagged->Id());
        EXPECT_EQ(EC_COMPLETE, graph.NextEvent(&p1));
        EXPECT_EQ(S_OK, p1);
        graph.control->Stop();

        // A graph without renderers is complete as soon as it runs.
        for (TestFilter* filter : std::vector<TestFilter*>{sink1, sink2, flagged})
            graph.builder->RemoveFilter(filter);
        graph.control->Run();
        EXPECT_EQ(EC_COMPLETE, graph.NextEvent());
    }
    for (TestFilter* filter : std::vector<TestFilter*>{source, sink1, sink2, flagged})
        filter->Release();
}

TEST(FilterGraph, Playback_TwoStreamsOnThreads_CompleteAfterBothEnded) {
    CallLog log;
    TestSource* video = new TestSource("video", &log);
    TestSource* audio = new TestSource("audio", &log);
    TestSink* videoSink = new TestSink("videoSink", &log);
    TestSink* audioSink = new TestSink("audioSink", &log);
    video->m_count = 5;
    audio->m_count = 8;
    {
        Graph graph;
        for (TestFilter* filter : std::vector<TestFilter*>{video, audio, videoSink, audioSink})
            graph.builder->AddFilter(filter, nullptr);
        ASSERT_EQ(S_OK, graph.builder->ConnectDirect(video->Pin(0), videoSink->Pin(0), nullptr));
        ASSERT_EQ(S_OK, graph.builder->ConnectDirect(audio->Pin(0), audioSink->Pin(0), nullptr));
        graph.filter->SetSyncSource(nullptr);
        for (int run = 0; run < 2; ++run) {
            ASSERT_EQ(S_OK, graph.control->Run());
            ASSERT_EQ(EC_COMPLETE, graph.NextEvent(nullptr, nullptr, 10000));
            EXPECT_EQ(run + 1, videoSink->Ends());
            EXPECT_EQ(run + 1, audioSink->Ends());
            ASSERT_EQ(S_OK, graph.control->Stop());
        }
        std::vector<REFERENCE_TIME> expected;
        for (int i = 0; i < 5; ++i)
            expected.push_back(i * kSampleDuration);
        // Each run delivers the stream from its beginning again.
        const std::vector<REFERENCE_TIME> starts = videoSink->Starts();
        ASSERT_EQ(5u * 2, starts.size());
        EXPECT_EQ(expected, std::vector<REFERENCE_TIME>(starts.begin(), starts.begin() + 5));
        EXPECT_EQ(expected, std::vector<REFERENCE_TIME>(starts.begin() + 5, starts.end()));
        EXPECT_EQ(8u * 2, audioSink->Starts().size());
    }
    for (TestFilter* filter : std::vector<TestFilter*>{video, audio, videoSink, audioSink})
        filter->Release();
}

TEST(FilterGraph, Playback_SourceFails_ErrorAbortReachesHost) {
    CallLog log;
    TestSource* source = new TestSource("src", &log);
    TestSink* sink = new TestSink("sink", &log);
    source->m_failAfter = 2;
    source->m_hrFail = HRESULT_FROM_WIN32(ERROR_HANDLE_EOF);
    {
        Graph graph;
        graph.builder->AddFilter(source, L"src");
        graph.builder->AddFilter(sink, L"sink");
        graph.builder->ConnectDirect(source->Pin(0), sink->Pin(0), nullptr);
        graph.filter->SetSyncSource(nullptr);
        ASSERT_EQ(S_OK, graph.control->Run());
        LONG_PTR p1 = 0;
        EXPECT_EQ(EC_ERRORABORT, graph.NextEvent(&p1, nullptr, 10000));
        EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_HANDLE_EOF), p1);
        // The end of stream that follows completes the graph.
        EXPECT_EQ(EC_COMPLETE, graph.NextEvent(nullptr, nullptr, 10000));
        EXPECT_EQ(2u, sink->Starts().size());
        graph.control->Stop();
    }
    source->Release();
    sink->Release();
}

TEST(FilterGraph, Seeking_Filters_ForwardedAndRunRestarted) {
    CallLog log;
    SeekingFilter* video = new SeekingFilter("video", &log);
    SeekingFilter* audio = new SeekingFilter("audio", &log);
    TestSink* sink = new TestSink("sink", &log);
    video->m_duration = 100000000;
    audio->m_duration = 90000000;
    audio->m_caps = 0x33;
    {
        Graph graph;
        IMediaSeeking* seeking = nullptr;
        graph.builder->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&seeking));
        LONGLONG duration = -1;
        EXPECT_EQ(E_NOTIMPL, seeking->GetDuration(&duration));

        for (TestFilter* filter : std::vector<TestFilter*>{video, audio, sink})
            graph.builder->AddFilter(filter, nullptr);
        graph.builder->ConnectDirect(video->Pin(0), sink->Pin(0), nullptr);
        EXPECT_EQ(S_OK, seeking->GetDuration(&duration));
        EXPECT_EQ(100000000, duration);
        DWORD caps = 0;
        EXPECT_EQ(S_OK, seeking->GetCapabilities(&caps));
        EXPECT_EQ(0x33u, caps);
        // The position of the first seeker that answers.
        video->m_hrCurrent = E_NOTIMPL;
        audio->m_current = 7;
        LONGLONG position = -1;
        EXPECT_EQ(S_OK, seeking->GetCurrentPosition(&position));
        EXPECT_EQ(7, position);
        audio->m_current = 0;

        // A relative move reaches each seeker once with the caller's value.
        LONGLONG current = 20000000;
        ASSERT_EQ(S_OK, seeking->SetPositions(&current, AM_SEEKING_AbsolutePositioning, nullptr,
                                              AM_SEEKING_NoPositioning));
        current = 5000000;
        ASSERT_EQ(S_OK, seeking->SetPositions(
                            &current, AM_SEEKING_RelativePositioning | AM_SEEKING_ReturnTime,
                            nullptr, AM_SEEKING_NoPositioning));
        EXPECT_EQ(5000000, video->m_received);
        EXPECT_EQ(5000000, audio->m_received);
        EXPECT_EQ(25000000, current);
        EXPECT_EQ(25000000, audio->m_current);

        // Seeking a running graph pauses it and runs it again with stream time at 0.
        ASSERT_EQ(S_OK, graph.control->Run());
        IReferenceClock* clock = sink->m_clock;
        ASSERT_NE(nullptr, clock);
        REFERENCE_TIME before = 0;
        clock->GetTime(&before);
        log.Take();
        current = 50000000;
        ASSERT_EQ(S_OK, seeking->SetPositions(&current, AM_SEEKING_AbsolutePositioning, nullptr,
                                              AM_SEEKING_NoPositioning));
        const Calls calls = log.Take();
        EXPECT_EQ((Calls{"sink:Pause", "video:Pause", "audio:Pause", "video:SetPositions",
                         "audio:SetPositions", "sink:Run", "video:Run", "audio:Run"}),
                  calls);
        EXPECT_GE(video->m_rtRunStart, before);
        EXPECT_EQ(50000000, video->m_current);
        // No positioning: nothing stops.
        ASSERT_EQ(S_OK, seeking->SetPositions(&current, AM_SEEKING_NoPositioning, nullptr,
                                              AM_SEEKING_NoPositioning));
        EXPECT_EQ((Calls{"video:SetPositions", "audio:SetPositions"}), log.Take());
        graph.control->Stop();
        seeking->Release();
    }
    for (TestFilter* filter : std::vector<TestFilter*>{video, audio, sink})
        filter->Release();
}

TEST(SystemClock, GetTime_Sleep_AdvancesIn100nsUnits) {
    IReferenceClock* clock = nullptr;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_SystemClock, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_IReferenceClock, reinterpret_cast<void**>(&clock)));
    REFERENCE_TIME first = 0, second = 0;
    ASSERT_TRUE(SUCCEEDED(clock->GetTime(&first)));
    const auto wallStart = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(SUCCEEDED(clock->GetTime(&second)));
    const auto wall = std::chrono::steady_clock::now() - wallStart;
    // 100 ns units: 20 ms is at least 200,000 and no more than the wall time measured.
    EXPECT_GE(second - first, 20 * kMs);
    EXPECT_LE(second - first,
              std::chrono::duration_cast<std::chrono::microseconds>(wall).count() * 10 + kMs);
    clock->Release();
}

HRESULT CreateNothing(IUnknown*, REFIID, void** ppv) {
    *ppv = nullptr;
    return E_UNEXPECTED;
}

TEST(ComRuntime, CoCreateInstance_ClassTable_CreatesGraphWithEveryInterface) {
    IUnknown* unknown = nullptr;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                     reinterpret_cast<void**>(&unknown)));
    for (const IID* iid : {&IID_IFilterGraph, &IID_IGraphBuilder, &IID_IMediaControl,
                           &IID_IDispatch, &IID_IMediaEvent, &IID_IMediaEventEx, &IID_IPersist,
                           &IID_IMediaFilter, &IID_IMediaSeeking, &IID_IMediaEventSink}) {
        IUnknown* part = nullptr;
        ASSERT_EQ(S_OK, unknown->QueryInterface(*iid, reinterpret_cast<void**>(&part)));
        IUnknown* identity = nullptr;
        part->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity));
        EXPECT_EQ(unknown, identity);
        identity->Release();
        part->Release();
    }
    IUnknown* none = unknown;
    EXPECT_EQ(E_NOINTERFACE, unknown->QueryInterface(IID_IPin, reinterpret_cast<void**>(&none)));
    EXPECT_EQ(nullptr, none);

    void* object = &object;
    EXPECT_EQ(CLASS_E_NOAGGREGATION, CoCreateInstance(CLSID_FilterGraph, unknown,
                                                      CLSCTX_INPROC_SERVER, IID_IUnknown, &object));
    EXPECT_EQ(nullptr, object);
    unknown->Release();
    EXPECT_EQ(REGDB_E_CLASSNOTREG, CoCreateInstance(MEDIATYPE_Audio, nullptr, CLSCTX_INPROC_SERVER,
                                                    IID_IUnknown, &object));
    // A registered class is created by its creator; registering again replaces it.
    ASSERT_EQ(S_OK, RegisterComClass(MEDIATYPE_Video, &CreateNothing));
    EXPECT_EQ(E_UNEXPECTED, CoCreateInstance(MEDIATYPE_Video, nullptr, CLSCTX_INPROC_SERVER,
                                             IID_IUnknown, &object));
    ASSERT_EQ(S_OK, RegisterComClass(MEDIATYPE_Video, &CSystemClock::CreateInstance));
    ASSERT_EQ(S_OK, CoCreateInstance(MEDIATYPE_Video, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_IReferenceClock, &object));
    static_cast<IReferenceClock*>(object)->Release();
    EXPECT_EQ(E_POINTER, RegisterComClass(MEDIATYPE_Video, nullptr));
}
