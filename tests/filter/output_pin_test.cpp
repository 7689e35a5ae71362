// The output pin's delivery loop against a sink that misbehaves: refused samples and a
// decommitted allocator end it without an end of stream or an event.
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

// Accepts Limit samples, then refuses with Refusal; counts what it sees.
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
        ++Received;
        return S_OK;
    }
    STDMETHODIMP EndOfStream() override {
        ++EndOfStreams;
        return S_OK;
    }

    long Limit = 1L << 30;
    HRESULT Refusal = S_FALSE;
    std::atomic<long> Received{0}, EndOfStreams{0};
};

class TestSink : public CBaseFilter {
public:
    explicit TestSink(HRESULT* phr)
        : CBaseFilter(L"test sink", nullptr, &m_lock, GUID_NULL, phr), Pin(this, &m_lock, phr) {}
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? &Pin : nullptr; }

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
    // Neither an end of stream nor an error event.
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

} // namespace
