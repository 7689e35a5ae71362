// The POSIX filter graph manager over the framework's test filters: membership and
// connections, state changes downstream first, the graph clock, renderer completion and
// events, seeking, and the COM runtime's class table.
#include <gtest/gtest.h>

#include <thread>

#include "../framework/test_filters.h"
#include "framework/com_ptr.h"
#include "framework/platform/posix/filter_graph.h"
#include "framework/platform/posix/reference_clock.h"

namespace {

using namespace testfilters;
using namespace std::chrono_literals;
using Strings = std::vector<std::string>;

constexpr REFERENCE_TIME kMs = 10000;

CMediaType Yuy2() {
    return VideoType(MEDIASUBTYPE_YUY2, 64, 48);
}

LONG_PTR Id(IBaseFilter* filter) {
    return reinterpret_cast<LONG_PTR>(filter);
}

// The journal's entries that start with one of prefixes, from index from on.
Strings Select(Journal& log, const Strings& prefixes, size_t from = 0) {
    Strings result;
    const Strings entries = log.Entries();
    for (size_t i = from; i < entries.size(); ++i)
        for (const std::string& prefix : prefixes)
            if (entries[i].compare(0, prefix.size(), prefix) == 0)
                result.push_back(entries[i]);
    return result;
}

// The start time of the stream's last Run.
REFERENCE_TIME RunStart(Journal& log) {
    const Strings runs = Select(log, {"run Out "});
    return runs.empty() ? -1 : std::stoll(runs.back().substr(8));
}

// The host's view of one graph; declared after the filters it holds, so it goes first.
struct Graph {
    Graph() {
        EXPECT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                                         IID_IGraphBuilder, builder.OutVoid()));
        QueryTo(builder.Get(), IID_IMediaControl, &control);
        QueryTo(builder.Get(), IID_IMediaEventEx, &events);
        QueryTo(builder.Get(), IID_IMediaFilter, &filter);
        QueryTo(builder.Get(), IID_IMediaEventSink, &sink);
        QueryTo(builder.Get(), IID_IMediaSeeking, &seeking);
    }
    ~Graph() { control->Stop(); }

    // Adds both filters of the pair and connects them with the source's own type.
    HRESULT Add(FilterPair& pair) {
        builder->AddFilter(pair.Source, L"src");
        builder->AddFilter(pair.Sink, L"sink");
        return builder->ConnectDirect(pair.Out(), pair.In(), nullptr);
    }
    // The next queued event, or code 0 when none is queued within msTimeout.
    LONG NextEvent(LONG_PTR* p1 = nullptr, LONG msTimeout = 0) {
        LONG code = 0;
        LONG_PTR a = 0, b = 0;
        events->GetEvent(&code, &a, &b, msTimeout);
        if (p1)
            *p1 = a;
        return code;
    }
    // SetPositions of the start only; *current takes what the graph returns.
    HRESULT Seek(LONGLONG* current, DWORD flags) {
        return seeking->SetPositions(current, flags, nullptr, AM_SEEKING_NoPositioning);
    }
    FILTER_STATE State() {
        OAFilterState state = -1;
        control->GetState(0, &state);
        return FILTER_STATE(state);
    }
    std::vector<std::wstring> Names() {
        std::vector<std::wstring> names;
        ComPtr<IEnumFilters> filters;
        EXPECT_EQ(S_OK, builder->EnumFilters(filters.Out()));
        ComPtr<IBaseFilter> next;
        while (filters->Next(1, next.Out(), nullptr) == S_OK) {
            FILTER_INFO info{};
            next->QueryFilterInfo(&info);
            names.push_back(info.achName);
            if (info.pGraph)
                info.pGraph->Release();
        }
        return names;
    }

    ComPtr<IGraphBuilder> builder;
    ComPtr<IMediaControl> control;
    ComPtr<IMediaEventEx> events;
    ComPtr<IMediaFilter> filter;
    ComPtr<IMediaEventSink> sink;
    ComPtr<IMediaSeeking> seeking;
};

// A pinless source with IMediaSeeking that journals "pause/seek/run <label>".
class SeekingSource : public TestSource, public IMediaSeeking {
public:
    SeekingSource(HRESULT* phr, Journal* log, const char* label)
        : TestSource(phr), m_log(log), m_label(label) {}
    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IMediaSeeking)
            return GetInterface(static_cast<IMediaSeeking*>(this), ppv);
        return TestSource::NonDelegatingQueryInterface(riid, ppv);
    }
    int GetPinCount() override { return 0; }
    CBasePin* GetPin(int) override { return nullptr; }
    STDMETHODIMP Pause() override {
        m_log->Add("pause " + m_label);
        return TestSource::Pause();
    }
    STDMETHODIMP Run(REFERENCE_TIME tStart) override {
        m_log->Add("run " + m_label);
        RunStart = tStart;
        return TestSource::Run(tStart);
    }

    STDMETHODIMP GetCapabilities(DWORD* caps) override { return *caps = Caps, S_OK; }
    STDMETHODIMP GetDuration(LONGLONG* duration) override { return *duration = Duration, S_OK; }
    STDMETHODIMP GetCurrentPosition(LONGLONG* current) override {
        *current = Current;
        return CurrentResult;
    }
    STDMETHODIMP SetPositions(LONGLONG* current, DWORD flags, LONGLONG*, DWORD) override {
        m_log->Add("seek " + m_label);
        Received = *current;
        if ((flags & AM_SEEKING_PositioningBitsMask) == AM_SEEKING_RelativePositioning)
            Current += *current;
        else if (flags & AM_SEEKING_PositioningBitsMask)
            Current = *current;
        if (flags & AM_SEEKING_ReturnTime)
            *current = Current;
        return S_OK;
    }
    // The graph forwards nothing else.
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

    DWORD Caps = 0x37;
    LONGLONG Duration = 0;
    LONGLONG Current = 0;
    LONGLONG Received = -1;
    HRESULT CurrentResult = S_OK;
    REFERENCE_TIME RunStart = -1;

private:
    Journal* const m_log;
    const std::string m_label;
};

TEST(FilterGraph, AddFilter_NamesEnumRemove_JoinsWithUniqueNames) {
    Journal log;
    HRESULT hr = S_OK;
    ComPtr<TestSink> first(new TestSink(&hr, &log)), second(new TestSink(&hr, &log)),
        unnamed(new TestSink(&hr, &log));
    {
        Graph graph;
        EXPECT_EQ(S_OK, graph.builder->AddFilter(first.Get(), L"Sink"));
        EXPECT_EQ(static_cast<IFilterGraph*>(graph.builder.Get()), first->GetFilterGraph());
        EXPECT_EQ(VFW_S_DUPLICATE_NAME, graph.builder->AddFilter(second.Get(), L"Sink"));
        EXPECT_EQ(S_OK, graph.builder->AddFilter(unnamed.Get(), nullptr));
        EXPECT_EQ(E_INVALIDARG, graph.builder->AddFilter(first.Get(), L"Again"));
        const std::vector<std::wstring> names = graph.Names();
        ASSERT_EQ(3u, names.size());
        EXPECT_EQ(L"Sink", names[0]);
        EXPECT_EQ(L"Sink 0001", names[1]);
        EXPECT_FALSE(names[2].empty());

        // Several at once, then the end; the enumerator is nothing but IEnumFilters.
        ComPtr<IEnumFilters> filters;
        graph.builder->EnumFilters(filters.Out());
        IBaseFilter* got[4] = {};
        ULONG fetched = 0;
        EXPECT_EQ(S_FALSE, filters->Next(4, got, &fetched));
        ASSERT_EQ(3u, fetched);
        EXPECT_EQ(static_cast<IBaseFilter*>(unnamed.Get()), got[2]);
        for (ULONG i = 0; i < fetched; ++i)
            got[i]->Release();
        ComPtr<IPin> none;
        EXPECT_EQ(E_NOINTERFACE, filters->QueryInterface(IID_IPin, none.OutVoid()));
        filters.Reset(); // its snapshot holds the filters

        EXPECT_EQ(S_OK, graph.builder->RemoveFilter(second.Get()));
        EXPECT_EQ(nullptr, second->GetFilterGraph());
        EXPECT_EQ(1, second->RefCount());
        EXPECT_EQ(VFW_E_NOT_FOUND, graph.builder->RemoveFilter(second.Get()));
        EXPECT_EQ((std::vector<std::wstring>{L"Sink", names[2]}), graph.Names());
        // The freed name can be used again.
        EXPECT_EQ(S_OK, graph.builder->AddFilter(second.Get(), L"Sink 0001"));
        EXPECT_EQ(2, first->RefCount());
    }
    // Releasing the graph lets every filter go.
    for (TestSink* sink : {first.Get(), second.Get(), unnamed.Get()}) {
        EXPECT_EQ(nullptr, sink->GetFilterGraph());
        EXPECT_EQ(1, sink->RefCount());
    }
}

TEST(FilterGraph, ConnectDirect_PinsInGraph_ConnectsThroughOutputPinOnly) {
    FilterPair pair(Yuy2());
    Journal log;
    HRESULT hr = S_OK;
    ComPtr<TestSink> refusing(new TestSink(&hr, &log)), outsider(new TestSink(&hr, &log));
    refusing->Pin().Subtype = MEDIASUBTYPE_RGB24;
    outsider->Pin().Subtype = MEDIASUBTYPE_YUY2;
    {
        Graph graph;
        graph.builder->AddFilter(pair.Source, L"src");
        graph.builder->AddFilter(pair.Sink, L"sink");
        graph.builder->AddFilter(refusing.Get(), L"refusing");
        IPin* refusingIn = &refusing->Pin();
        ComPtr<IPin> peer;

        EXPECT_EQ(VFW_E_NOT_IN_GRAPH,
                  graph.builder->ConnectDirect(pair.Out(), &outsider->Pin(), nullptr));
        EXPECT_EQ(VFW_E_INVALID_DIRECTION,
                  graph.builder->ConnectDirect(pair.In(), pair.Out(), nullptr));
        // No intelligent connect: the pin's refusal is the answer.
        const CMediaType type = Yuy2();
        EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED,
                  graph.builder->ConnectDirect(pair.Out(), refusingIn, &type));
        EXPECT_EQ(VFW_E_NOT_CONNECTED, pair.Out()->ConnectedTo(peer.Out()));

        ASSERT_EQ(S_OK, graph.builder->ConnectDirect(pair.Out(), pair.In(), nullptr));
        EXPECT_EQ(VFW_E_ALREADY_CONNECTED,
                  graph.builder->ConnectDirect(pair.Out(), pair.In(), nullptr));
        // RemoveFilter frees both ends.
        EXPECT_EQ(S_OK, graph.builder->RemoveFilter(pair.Sink));
        EXPECT_EQ(VFW_E_NOT_CONNECTED, pair.Out()->ConnectedTo(peer.Out()));
        EXPECT_EQ(VFW_E_NOT_CONNECTED, pair.In()->ConnectedTo(peer.Out()));
        graph.builder->AddFilter(pair.Sink, L"sink");
        ASSERT_EQ(S_OK, graph.builder->ConnectDirect(pair.Out(), pair.In(), nullptr));

        pair.Stream->Samples = 0;
        graph.filter->SetSyncSource(nullptr);
        ASSERT_EQ(S_OK, graph.control->Pause());
        EXPECT_EQ(VFW_E_NOT_STOPPED, graph.builder->ConnectDirect(pair.Out(), refusingIn, nullptr));
        // A filter leaving a paused graph is stopped first.
        const size_t mark = pair.Log.Entries().size();
        EXPECT_EQ(S_OK, graph.builder->RemoveFilter(pair.Sink));
        EXPECT_EQ((Strings{"inactive In"}), Select(pair.Log, {"inactive"}, mark));
        EXPECT_TRUE(pair.Sink->IsStopped());
    }
    // The graph disconnected what it held on release; FilterPair checks its filters die.
    EXPECT_EQ(1, refusing->RefCount());
}

TEST(FilterGraph, StateChanges_Chain_AppliedToSinksBeforeSources) {
    FilterPair pair(Yuy2());
    pair.Stream->Samples = 0;
    {
        Graph graph;
        ASSERT_EQ(S_OK, graph.Add(pair));
        graph.filter->SetSyncSource(nullptr);
        const Strings states = {"active", "run", "inactive"};

        ASSERT_EQ(S_OK, graph.control->Run());
        EXPECT_EQ(State_Running, graph.State());
        EXPECT_EQ(S_OK, graph.control->Run()); // no second run reaches the filters
        ASSERT_EQ(S_OK, graph.control->Pause());
        EXPECT_EQ(2, pair.Source->PauseCalls.load());

        // GetState passes a filter's intermediate or cannot-cue answer on.
        OAFilterState state = -1;
        for (HRESULT answer : {VFW_S_STATE_INTERMEDIATE, VFW_S_CANT_CUE}) {
            pair.Sink->StateResult = answer;
            EXPECT_EQ(answer, graph.control->GetState(10, &state));
            EXPECT_EQ(State_Paused, state);
        }
        pair.Sink->StateResult = S_OK;

        ASSERT_EQ(S_OK, graph.control->Stop());
        EXPECT_EQ((Strings{"active In", "active Out", "run In 0", "run Out 0", "inactive In",
                           "inactive Out"}),
                  Select(pair.Log, states));
        EXPECT_EQ(State_Stopped, graph.State());

        // A filter that fails to pause fails the run; the graph ends up stopped.
        const size_t mark = pair.Log.Entries().size();
        pair.Stream->ThreadCreateResult = E_OUTOFMEMORY;
        EXPECT_EQ(E_OUTOFMEMORY, graph.control->Run());
        EXPECT_EQ((Strings{"active In", "active Out", "inactive In"}),
                  Select(pair.Log, states, mark));
        EXPECT_EQ(State_Stopped, graph.State());
        EXPECT_TRUE(pair.Sink->IsStopped());
    }
}

TEST(FilterGraph, Run_WithAndWithoutClock_StartTimeFromGraphClock) {
    FilterPair pair(Yuy2());
    pair.Stream->Samples = 0;
    Graph graph;
    ASSERT_EQ(S_OK, graph.Add(pair));

    // Without SetSyncSource the first pause chooses the system clock for every filter.
    ASSERT_EQ(S_OK, graph.control->Pause());
    ComPtr<IReferenceClock> clock, other;
    pair.Sink->GetSyncSource(clock.Out());
    ASSERT_TRUE(clock);
    pair.Source->GetSyncSource(other.Out());
    EXPECT_EQ(other, clock.Get());
    REFERENCE_TIME before = 0, after = 0;
    clock->GetTime(&before);
    ASSERT_EQ(S_OK, graph.control->Run());
    clock->GetTime(&after);
    const REFERENCE_TIME firstStart = RunStart(pair.Log);
    EXPECT_GE(firstStart, before);
    EXPECT_LE(firstStart, after);
    EXPECT_EQ(VFW_E_NOT_STOPPED, graph.filter->SetSyncSource(nullptr));

    // Run 30 ms, pause 30 ms: the next run starts later by the pause only, so stream time
    // continues where it stopped.
    std::this_thread::sleep_for(30ms);
    REFERENCE_TIME pausedAt = 0, resumedAt = 0;
    clock->GetTime(&pausedAt);
    ASSERT_EQ(S_OK, graph.control->Pause());
    std::this_thread::sleep_for(30ms);
    ASSERT_EQ(S_OK, graph.control->Run());
    clock->GetTime(&resumedAt);
    const REFERENCE_TIME shift = RunStart(pair.Log) - firstStart;
    EXPECT_GE(shift, 30 * kMs);
    EXPECT_LE(shift, resumedAt - pausedAt);

    // A new clock may be set only once stopped; none means start time 0.
    graph.control->Stop();
    ASSERT_EQ(S_OK, graph.filter->SetSyncSource(nullptr));
    pair.Sink->GetSyncSource(other.Out());
    EXPECT_FALSE(other);
    ASSERT_EQ(S_OK, graph.control->Run());
    EXPECT_EQ(0, RunStart(pair.Log));

    // SetDefaultSyncSource gives every filter a clock again, and one added later too.
    graph.control->Stop();
    ASSERT_EQ(S_OK, graph.builder->SetDefaultSyncSource());
    pair.Source->GetSyncSource(clock.Out());
    EXPECT_TRUE(clock);
    Journal log;
    HRESULT hr = S_OK;
    ComPtr<TestSink> late(new TestSink(&hr, &log));
    graph.builder->AddFilter(late.Get(), L"late");
    late->GetSyncSource(other.Out());
    EXPECT_EQ(other, clock.Get());
}

TEST(FilterGraph, Notify_Renderers_CompleteOnlyAfterEveryRendererEnded) {
    FilterPair one(Yuy2()), two(Yuy2());
    Graph graph;
    for (FilterPair* pair : {&one, &two})
        graph.Add(*pair);
    graph.filter->SetSyncSource(nullptr);
    one.Stream->PendingAt = two.Stream->PendingAt = 0; // no end of stream of their own
    const LONG_PTR sink1 = Id(one.Sink), sink2 = Id(two.Sink);

    // Reports before Run do not count.
    graph.sink->Notify(EC_COMPLETE, S_OK, sink1);
    ASSERT_EQ(S_OK, graph.control->Run());
    EXPECT_EQ(0, graph.NextEvent());
    graph.sink->Notify(EC_COMPLETE, S_OK, sink1);
    graph.sink->Notify(EC_COMPLETE, S_OK, sink1);          // twice from one renderer
    graph.sink->Notify(EC_COMPLETE, S_OK, Id(one.Source)); // not a renderer
    EXPECT_EQ(0, graph.NextEvent());

    // Other codes pass through unchanged, in order.
    graph.sink->Notify(EC_ERRORABORT, E_OUTOFMEMORY, 7);
    graph.sink->Notify(EC_USER + 1, 5, 6);
    LONG_PTR p1 = 0;
    EXPECT_EQ(EC_ERRORABORT, graph.NextEvent(&p1));
    EXPECT_EQ(E_OUTOFMEMORY, p1);
    EXPECT_EQ(EC_USER + 1, graph.NextEvent(&p1));
    EXPECT_EQ(5, p1);
    LONG code = 0;
    EXPECT_EQ(E_POINTER, graph.events->GetEvent(&code, nullptr, &p1, 0)); // one null suffices

    // An anonymous report counts for the renderer still running; its failure is kept.
    graph.sink->Notify(EC_COMPLETE, VFW_E_RUNTIME_ERROR, 0);
    EXPECT_EQ(EC_COMPLETE, graph.NextEvent(&p1));
    EXPECT_EQ(VFW_E_RUNTIME_ERROR, p1);
    graph.sink->Notify(EC_COMPLETE, S_OK, sink1); // a renderer's second report
    EXPECT_EQ(0, graph.NextEvent());

    // Each run counts again from none.
    graph.control->Stop();
    graph.control->Run();
    graph.sink->Notify(EC_COMPLETE, S_OK, sink2);
    EXPECT_EQ(0, graph.NextEvent());
    graph.sink->Notify(EC_COMPLETE, S_OK, sink1);
    EXPECT_EQ(EC_COMPLETE, graph.NextEvent(&p1));
    EXPECT_EQ(S_OK, p1);
    graph.control->Stop();

    // A graph without renderers is complete as soon as it runs.
    graph.builder->RemoveFilter(one.Sink);
    graph.builder->RemoveFilter(two.Sink);
    graph.control->Run();
    EXPECT_EQ(EC_COMPLETE, graph.NextEvent());
}

TEST(FilterGraph, Seeking_Filters_ForwardedAndRunRestarted) {
    Journal log;
    HRESULT hr = S_OK;
    ComPtr<SeekingSource> video(new SeekingSource(&hr, &log, "video")),
        audio(new SeekingSource(&hr, &log, "audio"));
    video->Duration = 100000000;
    audio->Duration = 90000000;
    audio->Caps = 0x33;
    Graph graph;
    // No seeker: nothing to forward to.
    LONGLONG duration = -1, current = 0;
    EXPECT_EQ(E_NOTIMPL, graph.seeking->GetDuration(&duration));
    EXPECT_EQ(E_NOTIMPL, graph.Seek(&current, AM_SEEKING_AbsolutePositioning));

    graph.builder->AddFilter(video.Get(), L"video");
    graph.builder->AddFilter(audio.Get(), L"audio");
    EXPECT_EQ(S_OK, graph.seeking->GetDuration(&duration));
    EXPECT_EQ(100000000, duration);
    DWORD caps = 0;
    EXPECT_EQ(S_OK, graph.seeking->GetCapabilities(&caps));
    EXPECT_EQ(0x33u, caps);
    // The position of the first seeker that answers.
    video->CurrentResult = E_NOTIMPL;
    audio->Current = 7;
    LONGLONG position = -1;
    EXPECT_EQ(S_OK, graph.seeking->GetCurrentPosition(&position));
    EXPECT_EQ(7, position);
    audio->Current = 0;

    // A relative move reaches each seeker once with the caller's value.
    current = 20000000;
    ASSERT_EQ(S_OK, graph.Seek(&current, AM_SEEKING_AbsolutePositioning));
    current = 5000000;
    ASSERT_EQ(S_OK, graph.Seek(&current, AM_SEEKING_RelativePositioning | AM_SEEKING_ReturnTime));
    EXPECT_EQ(5000000, video->Received);
    EXPECT_EQ(5000000, audio->Received);
    EXPECT_EQ(25000000, current);
    EXPECT_EQ(25000000, audio->Current);

    // Seeking a running graph pauses it and runs it again with stream time at 0.
    ASSERT_EQ(S_OK, graph.control->Run());
    ComPtr<IReferenceClock> clock;
    video->GetSyncSource(clock.Out());
    ASSERT_TRUE(clock);
    REFERENCE_TIME before = 0;
    clock->GetTime(&before);
    size_t mark = log.Entries().size();
    current = 50000000;
    ASSERT_EQ(S_OK, graph.Seek(&current, AM_SEEKING_AbsolutePositioning));
    EXPECT_EQ((Strings{"pause video", "pause audio", "seek video", "seek audio", "run video",
                       "run audio"}),
              Select(log, {""}, mark));
    EXPECT_GE(video->RunStart, before);
    EXPECT_EQ(50000000, video->Current);
    // No positioning: nothing stops.
    mark = log.Entries().size();
    ASSERT_EQ(S_OK, graph.Seek(&current, AM_SEEKING_NoPositioning));
    EXPECT_EQ((Strings{"seek video", "seek audio"}), Select(log, {""}, mark));
}

// The graph's own interfaces are the fixture's queries; here the class table's refusals.
TEST(ComRuntime, CoCreateInstance_UnregisteredOrAggregated_RefusedWithNullResult) {
    ComPtr<IUnknown> outer;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                     outer.OutVoid()));
    void* object = &object;
    EXPECT_EQ(CLASS_E_NOAGGREGATION, CoCreateInstance(CLSID_FilterGraph, outer.Get(),
                                                      CLSCTX_INPROC_SERVER, IID_IUnknown, &object));
    EXPECT_EQ(nullptr, object);
    object = &object;
    EXPECT_EQ(REGDB_E_CLASSNOTREG, CoCreateInstance(MEDIATYPE_Audio, nullptr, CLSCTX_INPROC_SERVER,
                                                    IID_IUnknown, &object));
    EXPECT_EQ(nullptr, object);
}

} // namespace
