// The worker thread of a fragment: start, wait, reset, destruction while downloading,
// and what it leaves behind.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "fragments/async_fragment.h"
#include "tests/support/origin.h"
#include "tests/support/temp_directory.h"
#include "tests/support/thread_count.h"

namespace {

class AsyncFragmentTest : public testing::Test {
protected:
    void SetUp() override {
        m_base = OriginUrl("faults");
        ASSERT_FALSE(m_base.empty());
        // Warm up the transport and the runtime (a sanitizer starts a thread of its own
        // with the first one), so that threads they keep are not counted against us.
        FetchText(m_base + "empty");
        std::thread([] {}).join();
        m_threads = ThreadCount();
    }
    void TearDown() override {
        EXPECT_EQ(m_temp.LeftoverCount(), 0u) << "temporary files left behind";
        const int now = ThreadCount();
        if (m_threads >= 0 && now >= 0) {
            EXPECT_LE(now, m_threads) << "threads left behind";
        }
    }
    // A gate the fault server holds a fragment request at until Open.
    std::string Gate(const std::string& name) { return m_base + "gate/" + name; }
    void Open(const std::string& name) { FetchText(m_base + "open/" + name); }

    ScopedTempDirectory m_temp;
    std::string m_base;
    int m_threads = -1;
};

TEST_F(AsyncFragmentTest, Start_PendingUntilTheBodyArrivesThenParsed) {
    const std::string gate = UniqueName("pending");
    CSSFAsyncFragment* fragment = new CSSFAsyncFragment(Gate(gate).c_str());
    // Before a start it fails at once, and a reset keeps it idle.
    EXPECT_EQ(fragment->Wait(INFINITE), E_FAIL) << "an idle fragment's event is signalled";
    EXPECT_EQ(fragment->Reset(), S_OK);
    EXPECT_EQ(fragment->Wait(INFINITE), E_FAIL);
    EXPECT_FALSE(fragment->ThreadExists());

    ASSERT_EQ(fragment->Start(), E_PENDING);
    EXPECT_TRUE(fragment->ThreadExists());
    EXPECT_EQ(fragment->Wait(0), E_PENDING);
    EXPECT_EQ(fragment->Wait(20), E_PENDING);
    Open(gate);
    ASSERT_EQ(fragment->Wait(INFINITE), S_OK);
    EXPECT_EQ(fragment->Wait(0), S_OK) << "every waiter sees the end, not only the first";
    ASSERT_EQ(fragment->Samples.size(), 2u);
    EXPECT_EQ(fragment->TotalDuration, 4000u);
    EXPECT_EQ(m_temp.LeftoverCount(), 1u) << "the body stays in its file while cached";

    // A restart fetches again; a reset returns to idle and drops the body and thread.
    ASSERT_EQ(fragment->Start(), E_PENDING);
    EXPECT_EQ(fragment->Wait(INFINITE), S_OK);
    EXPECT_EQ(fragment->Reset(), S_OK);
    EXPECT_EQ(fragment->Wait(0), E_FAIL);
    EXPECT_TRUE(fragment->Samples.empty());
    EXPECT_FALSE(fragment->ThreadExists());
    EXPECT_EQ(m_temp.LeftoverCount(), 0u);
    EXPECT_EQ(fragment->Release(), 0u);
}

// HTTP failures are the file's tests; these are the fragment's own.
TEST_F(AsyncFragmentTest, FailedDownloads_KeepTheirErrorAndLeaveNothing) {
    const std::pair<CSSFAsyncFragment*, HRESULT> cases[] = {
        {new CSSFAsyncFragment((m_base + "big").c_str()), E_FAIL}, // a body that is no fragment
        {new CSSFAsyncFragment((m_base + "big").c_str(), 1 << 20), HRESULT(0x800700DF)}};
    for (const auto& [fragment, expected] : cases)
        EXPECT_EQ(fragment->Start(), E_PENDING);
    for (const auto& [fragment, expected] : cases) {
        EXPECT_EQ(fragment->Wait(INFINITE), expected);
        EXPECT_EQ(fragment->Wait(0), expected);
        EXPECT_TRUE(fragment->Samples.empty());
        EXPECT_EQ(fragment->Release(), 0u);
    }
}

TEST_F(AsyncFragmentTest, ReleaseWhileDownloading_WaitsForTheDownload) {
    const std::string gate = UniqueName("destroy");
    const std::string tag = UniqueName("destroy-tag");
    CSSFAsyncFragment* fragment = new CSSFAsyncFragment((Gate(gate) + "?tag=" + tag).c_str());
    ASSERT_EQ(fragment->Start(), E_PENDING);
    std::atomic<bool> opened{false};
    std::thread opener([&] {
        // Until the request is at the server, opening could beat it.
        while (RequestCount(tag) < 1)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        opened = true;
        Open(gate);
    });
    EXPECT_EQ(fragment->Release(), 0u);
    EXPECT_TRUE(opened.load()) << "the fragment was destroyed before its download ended";
    opener.join();
}

TEST_F(AsyncFragmentTest, ReleaseDuringRetryDelay_EndsAtOnceWithoutAnotherRequest) {
    const std::string name = UniqueName("cancel");
    const std::string tag = name + "/QualityLevels(1)/Fragments(video=20000000)";
    // A 503 asking for 5 s before the next attempt.
    CSSFAsyncFragment* fragment = new CSSFAsyncFragment(
        (m_base + "flaky/" + name + "/-/503r5/QualityLevels(1)/Fragments(video=20000000)").c_str());
    ASSERT_EQ(fragment->Start(), E_PENDING);
    while (RequestCount(tag) < 1)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(fragment->Wait(0), E_PENDING) << "the fragment is waiting to try again";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(fragment->Release(), 0u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(RequestCount(tag), 1);
}

} // namespace
