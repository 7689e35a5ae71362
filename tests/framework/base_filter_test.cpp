// Filter state changes and their order on the pins, the pin enumerator, FindPin and
// pin ids, pin destruction, graph membership and event notification.
#include <gtest/gtest.h>

#include <algorithm>

#include "framework/com_ptr.h"
#include "test_filters.h"

namespace {

using namespace testfilters;

class FilterState : public ::testing::Test {
protected:
    FilterState() : m_type(VideoType(MEDIASUBTYPE_YUY2, 64, 48)), m_pair(m_type) {
        HRESULT hr = S_OK;
        m_spare = new TestStream(&hr, m_pair.Source, L"Spare", m_type, &m_pair.Log);
        EXPECT_EQ(hr, S_OK);
        m_pair.Stream->Samples = 0;
    }

    FILTER_STATE State(IBaseFilter* filter) {
        FILTER_STATE state = State_Running;
        EXPECT_EQ(filter->GetState(0, &state), S_OK);
        return state;
    }

    // The journal without the end of stream (no samples are sent).
    std::vector<std::string> StateEntries() {
        auto entries = m_pair.Log.Entries();
        entries.erase(std::remove(entries.begin(), entries.end(), "end of stream"), entries.end());
        return entries;
    }

    CMediaType m_type;
    FilterPair m_pair;
    TestStream* m_spare = nullptr; // unconnected; owned by the source
};

TEST_F(FilterState, PauseRunStop_VisitConnectedPinsOnly) {
    ASSERT_EQ(m_pair.Connect(&m_type), S_OK);
    EXPECT_EQ(State(m_pair.Source), State_Stopped);

    ASSERT_EQ(m_pair.Sink->Pause(), S_OK);
    ASSERT_EQ(m_pair.Source->Pause(), S_OK);
    EXPECT_EQ(State(m_pair.Source), State_Paused);
    EXPECT_TRUE(m_pair.Stream->WorkerRunning());
    EXPECT_FALSE(m_spare->WorkerRunning());
    // Pausing again does not activate again.
    ASSERT_EQ(m_pair.Source->Pause(), S_OK);

    ASSERT_EQ(m_pair.Sink->Run(500), S_OK);
    ASSERT_EQ(m_pair.Source->Run(500), S_OK);
    ASSERT_EQ(m_pair.Source->Run(700), S_OK); // running already: pins not told again
    EXPECT_EQ(State(m_pair.Source), State_Running);

    m_pair.StopAll();
    EXPECT_EQ(State(m_pair.Source), State_Stopped);
    EXPECT_FALSE(m_pair.Stream->WorkerRunning());
    ASSERT_EQ(m_pair.Source->Stop(), S_OK); // stopped already: pins not told again

    // Run from stopped pauses through the filter's own (virtual) Pause first.
    ASSERT_EQ(m_pair.Sink->Run(0), S_OK);
    ASSERT_EQ(m_pair.Source->Run(1234), S_OK);
    EXPECT_EQ(m_pair.Source->PauseCalls.load(), 3);
    EXPECT_EQ(State(m_pair.Source), State_Running);
    m_pair.StopAll();

    const std::vector<std::string> expected = {
        "active In", "active Out", "run In 500", "run Out 500",  "inactive Out", "inactive In",
        "active In", "run In 0",   "active Out", "run Out 1234", "inactive Out", "inactive In"};
    EXPECT_EQ(StateEntries(), expected);
}

TEST_F(FilterState, PauseFailure_ReturnedAtOnceAndStateKept) {
    // Connect the spare pin too, to a second sink, so that two pins are activated.
    HRESULT hr = S_OK;
    auto* sink2 = new TestSink(&hr, &m_pair.Log);
    sink2->AddRef();
    sink2->Pin().Subtype = MEDIASUBTYPE_YUY2;
    IPin* in2 = static_cast<CBasePin*>(&sink2->Pin());
    ASSERT_EQ(m_pair.Connect(&m_type), S_OK);
    ASSERT_EQ(static_cast<IPin*>(static_cast<CBasePin*>(m_spare))->Connect(in2, &m_type), S_OK);

    m_pair.Stream->ThreadCreateResult = E_ABORT;
    EXPECT_EQ(m_pair.Source->Pause(), E_ABORT);
    EXPECT_EQ(State(m_pair.Source), State_Stopped);
    EXPECT_EQ(m_pair.Stream->ThreadCreated.load(), 1);
    EXPECT_EQ(m_pair.Stream->ThreadDestroyed.load(), 1);
    EXPECT_FALSE(m_pair.Stream->WorkerRunning());
    EXPECT_EQ(m_pair.Log.Count("active Spare"), 0u);

    // Stop visits every pin and returns the first failure.
    m_pair.Stream->ThreadCreateResult = S_OK;
    ASSERT_EQ(m_pair.Source->Pause(), S_OK);
    EXPECT_EQ(m_pair.Log.Count("active Spare"), 1u);
    m_pair.Stream->InactiveResult = E_ABORT;
    m_spare->InactiveResult = E_OUTOFMEMORY;
    EXPECT_EQ(m_pair.Source->Stop(), E_ABORT);
    EXPECT_EQ(State(m_pair.Source), State_Stopped);
    EXPECT_EQ(m_pair.Log.Count("inactive Spare"), 1u);
    EXPECT_FALSE(m_spare->WorkerRunning());
    m_pair.Stream->InactiveResult = S_OK;
    m_spare->InactiveResult = S_OK;

    EXPECT_EQ(static_cast<CBasePin*>(m_spare)->Disconnect(), S_OK);
    EXPECT_EQ(in2->Disconnect(), S_OK);
    EXPECT_EQ(sink2->Release(), 0u);
}

TEST(Enumerators, Pins_InOrderAndOutOfSyncAfterAChange) {
    Journal log;
    HRESULT hr = S_OK;
    auto* source = new TestSource(&hr);
    source->AddRef();
    const CMediaType type = VideoType(MEDIASUBTYPE_YUY2, 16, 16);
    auto* first = new TestStream(&hr, source, L"A", type, &log);
    auto* second = new TestStream(&hr, source, L"B", type, &log);

    const auto pin = [](TestStream* stream) { return static_cast<IPin*>(stream); };
    // The pin FindPin answers for id; null when it answers none.
    const auto find = [&](LPCWSTR id) {
        IPin* found = pin(first);
        const HRESULT hr = source->FindPin(id, &found);
        EXPECT_EQ(hr, found ? S_OK : VFW_E_NOT_FOUND) << id;
        return ComPtr<IPin>::Adopt(found);
    };

    ComPtr<IEnumPins> pins;
    ASSERT_EQ(source->EnumPins(pins.Out()), S_OK);
    IPin* got[3] = {nullptr, nullptr, nullptr};
    ULONG fetched = 0;
    ASSERT_EQ(pins->Next(3, got, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 2u);
    EXPECT_EQ(got[0], pin(first));
    EXPECT_EQ(got[1], pin(second));
    EXPECT_EQ(source->RefCount(), 4); // the two pins and the enumerator
    got[0]->Release();
    got[1]->Release();

    auto* third = new TestStream(&hr, source, L"C", type, &log);
    EXPECT_EQ(pins->Reset(), S_OK);
    EXPECT_EQ(pins->Skip(2), S_OK);
    ASSERT_EQ(pins->Next(1, got, nullptr), S_OK);
    EXPECT_EQ(got[0], pin(third));
    got[0]->Release();

    delete second;
    EXPECT_EQ(pins->Next(1, got, &fetched), VFW_E_ENUM_OUT_OF_SYNC);
    EXPECT_EQ(pins->Skip(1), VFW_E_ENUM_OUT_OF_SYNC);
    ASSERT_EQ(pins->Reset(), S_OK);
    EXPECT_EQ(pins->Skip(3), S_FALSE);
    pins.Reset();

    // Ids are 1-based positions, and follow a removal.
    LPWSTR id = nullptr;
    ASSERT_EQ(pin(third)->QueryId(&id), S_OK);
    EXPECT_STREQ(id, L"2");
    CoTaskMemFree(id);
    EXPECT_EQ(find(L"2"), pin(third));
    EXPECT_EQ(find(L"1"), pin(first));
    for (LPCWSTR bad : {L"0", L"3", L"01", L"-1", L"1x", L"", L"A"})
        EXPECT_FALSE(find(bad)) << bad;

    // The filter destroys its remaining pins last first.
    EXPECT_EQ(source->Release(), 0u);
    const std::vector<std::string> expected = {"destroy B", "destroy C", "destroy A"};
    EXPECT_EQ(log.Entries(), expected);
}

TEST(FilterEvents, GraphMembership_NameGraphAndEventSink) {
    FilterPair pair(VideoType(MEDIASUBTYPE_YUY2, 64, 48));
    IBaseFilter* filter = pair.Source;
    FakeGraph graph;
    ASSERT_EQ(filter->JoinFilterGraph(&graph, L"Source 1"), S_OK);
    EXPECT_EQ(graph.RefCount(), 0u); // the filter does not hold its graph
    FILTER_INFO info{};
    ASSERT_EQ(filter->QueryFilterInfo(&info), S_OK);
    EXPECT_STREQ(info.achName, L"Source 1");
    EXPECT_EQ(info.pGraph, static_cast<IFilterGraph*>(&graph));
    EXPECT_EQ(graph.RefCount(), 1u);
    info.pGraph->Release();

    // EC_COMPLETE names the filter; other events pass their parameters on.
    EXPECT_EQ(pair.Source->NotifyEvent(EC_COMPLETE, S_OK, 77), S_OK);
    EXPECT_EQ(pair.Source->NotifyEvent(EC_ERRORABORT, E_FAIL, 78), S_OK);
    const auto events = graph.Events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].param2, reinterpret_cast<LONG_PTR>(filter));
    EXPECT_EQ(events[1].param2, 78);

    ASSERT_EQ(filter->JoinFilterGraph(nullptr, nullptr), S_OK);
    EXPECT_EQ(pair.Source->NotifyEvent(EC_COMPLETE, S_OK, 0), E_NOTIMPL);
    ASSERT_EQ(filter->QueryFilterInfo(&info), S_OK);
    EXPECT_STREQ(info.achName, L"");
    EXPECT_EQ(info.pGraph, nullptr);
}

} // namespace
