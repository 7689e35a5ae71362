// CSourceStream's worker: samples delivered in order with one end of stream, stopping
// while running, refusals and failures downstream, pending fills, and the command channel
// itself.
#include <gtest/gtest.h>

#include <new>
#include <numeric>
#include <thread>

#include "test_filters.h"
#include "tests/support/failing_allocation.h"

namespace {

using namespace testfilters;
using namespace std::chrono_literals;

constexpr auto kWait = 10s; // a bound for waits that normally end at once

class SourceStream : public ::testing::Test {
protected:
    SourceStream() : m_type(VideoType(MEDIASUBTYPE_YUY2, 64, 48)), m_pair(m_type) {
        EXPECT_EQ(m_pair.Connect(&m_type), S_OK);
    }

    // Runs the sink, then the source.
    void RunBoth() {
        ASSERT_EQ(m_pair.Sink->Run(0), S_OK);
        ASSERT_EQ(m_pair.Source->Run(0), S_OK);
    }

    static std::vector<uint32_t> Sequence(uint32_t count) {
        std::vector<uint32_t> result(count);
        std::iota(result.begin(), result.end(), 0u);
        return result;
    }

    CMediaType m_type;
    FilterPair m_pair;
};

TEST_F(SourceStream, Run_DeliversEverySampleInOrderThenOneEndOfStream) {
    m_pair.Stream->Samples = 5;
    RunBoth();
    ASSERT_TRUE(m_pair.Log.WaitFor("end of stream", kWait));
    m_pair.StopAll();

    TestInputPin& in = m_pair.Sink->Pin();
    EXPECT_EQ(in.Received(), Sequence(5));
    EXPECT_EQ(in.EndOfStreams(), 1);
    // The end of the stream comes after the last sample.
    const auto entries = m_pair.Log.Entries();
    const auto last = std::find(entries.begin(), entries.end(), "sample 4");
    const auto end = std::find(entries.begin(), entries.end(), "end of stream");
    EXPECT_LT(last - entries.begin(), end - entries.begin());
}

TEST_F(SourceStream, StopWhileRunning_EndsTheWorkerAndRestartsFromScratch) {
    m_pair.Stream->Samples = -1;
    RunBoth();
    ASSERT_TRUE(m_pair.Log.WaitFor("sample 20", kWait));
    ASSERT_EQ(m_pair.Source->Stop(), S_OK);
    EXPECT_FALSE(m_pair.Stream->WorkerRunning());

    TestInputPin& in = m_pair.Sink->Pin();
    const auto received = in.Received();
    ASSERT_GE(received.size(), 21u);
    EXPECT_EQ(received, Sequence(uint32_t(received.size())));
    EXPECT_EQ(in.EndOfStreams(), 0);

    // Paused again, a new worker starts from the first sample.
    ASSERT_EQ(m_pair.Source->Pause(), S_OK);
    ASSERT_TRUE(m_pair.Log.WaitForCount("sample 5", 2, kWait));
    ASSERT_EQ(m_pair.Source->Stop(), S_OK);
    EXPECT_EQ(m_pair.Log.Count("sample 0"), 2u);
    EXPECT_EQ(m_pair.Stream->ThreadCreated.load(), 2);
    EXPECT_EQ(m_pair.Stream->ThreadDestroyed.load(), 2);
}

TEST_F(SourceStream, ReceiverRefuses_DeliveryStopsWithoutEndOfStream) {
    TestInputPin& in = m_pair.Sink->Pin();
    in.RefuseAfter = 2; // S_FALSE for the third sample
    m_pair.Stream->Samples = 10;
    RunBoth();
    ASSERT_TRUE(m_pair.Log.WaitFor("sample 2", kWait));
    m_pair.StopAll();
    EXPECT_EQ(in.Received(), Sequence(3));
    EXPECT_EQ(m_pair.Stream->Filled.load(), 3);
    EXPECT_EQ(in.EndOfStreams(), 0);

    // A stopped receiver refuses with VFW_E_WRONG_STATE: one sample filled, none taken.
    in.RefuseAfter = -1;
    ASSERT_EQ(m_pair.Source->Pause(), S_OK);
    ASSERT_TRUE(m_pair.Log.WaitForCount("fill 0", 2, kWait));
    ASSERT_EQ(m_pair.Source->Stop(), S_OK);
    EXPECT_EQ(m_pair.Stream->Filled.load(), 4);
    EXPECT_EQ(in.Received().size(), 3u);
    EXPECT_EQ(in.EndOfStreams(), 0);
}

TEST_F(SourceStream, FillFailure_EndsTheStreamAndAbortsTheGraph) {
    FakeGraph graph;
    ASSERT_EQ(m_pair.Source->JoinFilterGraph(&graph, L"src"), S_OK);
    TestStream& stream = *m_pair.Stream;
    stream.Samples = 10;
    stream.WaitsForProgress = false;
    // A failure at the third sample; then E_PENDING there, from a stream that cannot wait.
    const HRESULT failures[] = {E_ABORT, E_PENDING};
    for (size_t i = 0; i < 2; ++i) {
        stream.FailAt = failures[i] == E_ABORT ? 2 : -1;
        stream.PendingAt = failures[i] == E_PENDING ? 2 : -1;
        RunBoth();
        ASSERT_TRUE(m_pair.Log.WaitForCount("end of stream", i + 1, kWait));
        m_pair.StopAll();
        EXPECT_EQ(m_pair.Sink->Pin().EndOfStreams(), int(i + 1));
        const auto events = graph.Events();
        ASSERT_EQ(events.size(), i + 1);
        EXPECT_EQ(events[i].code, EC_ERRORABORT);
        EXPECT_EQ(events[i].param1, failures[i]);
    }
    EXPECT_EQ(m_pair.Sink->Pin().Received(), std::vector<uint32_t>({0, 1, 0, 1}));
    ASSERT_EQ(m_pair.Source->JoinFilterGraph(nullptr, nullptr), S_OK);
}

TEST_F(SourceStream, PendingFill_WaitsForProgressWithoutSpinningThenResumes) {
    TestStream& stream = *m_pair.Stream;
    stream.Samples = 4;
    stream.PendingAt = 2;
    RunBoth();
    ASSERT_TRUE(m_pair.Log.WaitFor("sample 1", kWait));
    // Each pending pass waits 20 ms for progress and 20 ms for a command: a handful of
    // passes in this time, where a spinning loop makes thousands.
    std::this_thread::sleep_for(400ms);
    EXPECT_LE(stream.PendingFills.load(), 100);
    EXPECT_EQ(m_pair.Sink->Pin().Received(), Sequence(2));
    stream.Progress.Set();
    ASSERT_TRUE(m_pair.Log.WaitFor("end of stream", kWait));
    m_pair.StopAll();
    EXPECT_EQ(m_pair.Sink->Pin().Received(), Sequence(4)); // not failed by E_PENDING
}

TEST_F(SourceStream, CommandChannel_RepliesOfTheWorker) {
    TestStream& stream = *m_pair.Stream;
    EXPECT_EQ(stream.Command(CSourceStream::CMD_INIT), E_FAIL); // no worker yet

    // Driven by hand, without the filter: nothing is committed, so a delivery loop
    // waits for the next command instead of taking buffers.
    ASSERT_TRUE(stream.Create());
    EXPECT_EQ(stream.Command(CSourceStream::CMD_PAUSE), E_UNEXPECTED);
    EXPECT_EQ(stream.Command(CSourceStream::CMD_STOP), E_UNEXPECTED);
    EXPECT_EQ(stream.Command(CSourceStream::CMD_INIT), S_OK);
    EXPECT_EQ(stream.ThreadCreated.load(), 1);
    EXPECT_EQ(stream.Command(CSourceStream::CMD_INIT), E_NOTIMPL);
    EXPECT_EQ(stream.Command(CSourceStream::CMD_PAUSE), S_OK);
    EXPECT_EQ(stream.Command(CSourceStream::CMD_RUN), S_OK); // answered inside the loop
    EXPECT_EQ(stream.Command(99), E_UNEXPECTED);             // likewise
    EXPECT_EQ(stream.Command(CSourceStream::CMD_STOP), S_OK);
    EXPECT_EQ(stream.StartPlay.load(), 1);
    EXPECT_EQ(stream.Command(99), E_NOTIMPL);
    EXPECT_EQ(stream.Command(CSourceStream::CMD_RUN), S_OK);
    // Exit from inside the loop ends the worker as well.
    EXPECT_EQ(stream.Command(CSourceStream::CMD_EXIT), S_OK);
    stream.Close();
    EXPECT_EQ(stream.StartPlay.load(), 2);
    EXPECT_FALSE(stream.WorkerRunning());
    EXPECT_EQ(stream.ThreadDestroyed.load(), 1);
    EXPECT_EQ(stream.Filled.load(), 0);
    EXPECT_EQ(stream.Command(CSourceStream::CMD_INIT), E_FAIL);
}

TEST_F(SourceStream, EndOfStreamThenCommands_LoopRestartsOnPause) {
    m_pair.Stream->Samples = 2;
    ASSERT_EQ(m_pair.Sink->Pause(), S_OK);
    ASSERT_EQ(m_pair.Source->Pause(), S_OK);
    ASSERT_TRUE(m_pair.Log.WaitFor("end of stream", kWait));
    // The worker now waits for commands; a new loop finds the stream still at its end.
    EXPECT_EQ(m_pair.Stream->Command(CSourceStream::CMD_PAUSE), S_OK);
    ASSERT_TRUE(m_pair.Log.WaitForCount("end of stream", 2, kWait));
    EXPECT_EQ(m_pair.Stream->Command(CSourceStream::CMD_STOP), S_OK);
    m_pair.StopAll();
    EXPECT_EQ(m_pair.Sink->Pin().Received(), Sequence(2));
    EXPECT_EQ(m_pair.Sink->Pin().EndOfStreams(), 2);
    EXPECT_EQ(m_pair.Stream->StartPlay.load(), 2);
}

TEST(SourceStreamCreation, AddPinFailure_ReportedThroughPhr) {
    Journal log;
    HRESULT hr = S_OK;
    auto* source = new TestSource(&hr);
    source->AddRef();
    const CMediaType type = VideoType(MEDIASUBTYPE_YUY2, 64, 48);
    alignas(TestStream) unsigned char storage[sizeof(TestStream)];
    FailNextAllocation(); // the source's pin array: the stream itself lives in storage
    auto* stream = new (storage) TestStream(&hr, source, L"Out", type, &log);
    EXPECT_EQ(hr, E_OUTOFMEMORY);
    EXPECT_EQ(source->GetPinCount(), 0);
    stream->~TestStream();
    EXPECT_EQ(source->Release(), 0u);
}

} // namespace
