// The output pin's delivery loop against a sink that misbehaves: refused samples, a
// decommitted allocator, and the stop position.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>

#include "filter/kvssf_reader.h"
#include "framework/base_filter.h"
#include "framework/input_pin.h"
#include "tests/filter/reader_graph.h"
#include "tests/support/origin.h"
#include "tests/support/temp_directory.h"

namespace {

// Accepts Limit samples, then refuses with Refusal; counts what it sees. A renderer: the
// graph hears of the end of stream once the filter runs.
class TestSinkPin : public CBaseInputPin {
public:
    TestSinkPin(CBaseFilter* filter, CCritSec* lock, HRESULT* phr)
        : CBaseInputPin(L"test sink input", filter, lock, phr, L"in") {}

    HRESULT CheckMediaType(const CMediaType*) override { return S_OK; }
    STDMETHODIMP Receive(IMediaSample* sample) override {
        HRESULT hr = CBaseInputPin::Receive(sample);
        if (hr != S_OK)
            return hr;
        if (Received >= Limit)
            return Refusal;
        if (sample->IsPreroll() == S_OK)
            ++Preroll;
        ++Received;
        return S_OK;
    }
    STDMETHODIMP EndOfStream() override {
        CAutoLock lock(m_pLock);
        ++EndOfStreams;
        FILTER_STATE state = State_Stopped;
        m_pFilter->GetState(0, &state);
        if (state == State_Running)
            m_pFilter->NotifyEvent(EC_COMPLETE, S_OK, 0);
        return S_OK;
    }

    long Limit = 1L << 30;
    HRESULT Refusal = S_FALSE;
    std::atomic<long> Received{0}, EndOfStreams{0}, Preroll{0};
};

class TestSink : public CBaseFilter {
public:
    explicit TestSink(HRESULT* phr)
        : CBaseFilter(L"test sink", nullptr, &m_lock, GUID_NULL, phr), Pin(this, &m_lock, phr) {}
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? &Pin : nullptr; }
    STDMETHODIMP Run(REFERENCE_TIME tStart) override {
        CAutoLock lock(&m_lock);
        const HRESULT hr = CBaseFilter::Run(tStart);
        if (Pin.EndOfStreams > 0)
            NotifyEvent(EC_COMPLETE, S_OK, 0);
        return hr;
    }

    CCritSec m_lock;
    TestSinkPin Pin;
};

// The audio pin of the on-demand presentation connected to a test sink, in a graph.
class OutputPinTest : public testing::Test {
protected:
    void SetUp() override {
        const std::string base = OriginUrl("nginx");
        ASSERT_FALSE(base.empty());
        ASSERT_EQ(m_graph->Load(base + "media/vod/pres.ism/Manifest"), S_OK);
        HRESULT hr = S_OK;
        m_sink = new TestSink(&hr);
        ASSERT_EQ(m_graph->AddSink(m_sink, m_graph->Reader->GetPin(1), &m_sink->Pin), S_OK);
        m_control = m_graph->Control.Get();
    }
    void TearDown() override {
        m_graph.reset();
        EXPECT_EQ(m_temp.FileCount(), 0u);
    }
    LONG NextEvent(DWORD timeoutMs) { return m_graph->NextEvent(timeoutMs); }

    ScopedTempDirectory m_temp;
    std::unique_ptr<ReaderGraph> m_graph = std::make_unique<ReaderGraph>();
    TestSink* m_sink = nullptr;         // held by m_graph
    IMediaControl* m_control = nullptr; // m_graph's
};

TEST_F(OutputPinTest, RefusedDelivery_EndsTheLoopQuietly) {
    m_sink->Pin.Limit = 10;
    ASSERT_EQ(m_control->Run(), S_OK);
    // Neither end of stream nor an error: the graph never completes.
    EXPECT_EQ(NextEvent(1000), 0);
    EXPECT_EQ(m_sink->Pin.Received.load(), 10);
    EXPECT_EQ(m_sink->Pin.EndOfStreams.load(), 0);
    // A failure from downstream ends it the same way.
    ASSERT_EQ(m_control->Stop(), S_OK);
    m_sink->Pin.Refusal = E_FAIL;
    m_sink->Pin.Received = 0;
    ASSERT_EQ(m_control->Run(), S_OK);
    EXPECT_EQ(NextEvent(1000), 0);
    EXPECT_EQ(m_sink->Pin.EndOfStreams.load(), 0);
}

TEST_F(OutputPinTest, DecommittedAllocator_EndsTheLoopWithoutEvents) {
    m_sink->Pin.Limit = 0;
    m_sink->Pin.Refusal = S_OK; // held samples are dropped silently
    ASSERT_EQ(m_control->Run(), S_OK);
    ASSERT_NE(m_sink->Pin.Allocator(), nullptr);
    EXPECT_EQ(m_sink->Pin.Allocator()->Decommit(), S_OK);
    EXPECT_EQ(NextEvent(1000), 0);
    EXPECT_EQ(m_sink->Pin.EndOfStreams.load(), 0);
}

TEST_F(OutputPinTest, StopPosition_EndsBeforeTheSampleStartingThere) {
    // Audio samples of 1024 at 48 kHz: the fourth starts at 3 × 213333 (stream ticks
    // are 100 ns here), so a stop there delivers three.
    LONGLONG start = 0, stop = 3 * 213333;
    ASSERT_EQ(m_graph->Seeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, &stop,
                                             AM_SEEKING_AbsolutePositioning),
              S_OK);
    ASSERT_EQ(m_control->Run(), S_OK);
    EXPECT_EQ(NextEvent(10000), EC_COMPLETE);
    EXPECT_EQ(m_sink->Pin.Received.load(), 3);
    EXPECT_EQ(m_sink->Pin.EndOfStreams.load(), 1);
    EXPECT_EQ(m_sink->Pin.Preroll.load(), 0) << "the first sample stops 21 ms in";
}

} // namespace
