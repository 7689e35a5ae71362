// The stream's fragment cache: creation on first request, stickiness, trimming and the
// hand-over of measured throughput.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "fragments/async_fragment.h"
#include "manifest/manifest.h"
#include "manifest/video_stream.h"
#include "tests/support/origin.h"
#include "tests/support/temp_directory.h"

namespace {

class FragmentSlotsTest : public testing::Test {
protected:
    void SetUp() override {
        m_manifest.BaseUrl = OriginUrl("faults");
        ASSERT_FALSE(m_manifest.BaseUrl.empty());
        m_stream.TimeScale = 10000000;
        for (int64_t i = 0; i < 9; ++i)
            m_stream.Chunks.push_back(SSFChunk{i * 20000000, 20000000});
        ASSERT_EQ(m_stream.SetFragmentSlotCount(m_stream.Chunks.size()), S_OK);
        m_low.Bitrate = 100000;
        m_high.Bitrate = 900000;
    }
    void TearDown() override {
        ASSERT_EQ(m_stream.SetFragmentSlotCount(0), S_OK);
        EXPECT_EQ(m_temp.FileCount(), 0u) << "temporary files left behind";
    }
    // Every fragment URL of the stream carries tag, counted by the fault server.
    void UseTemplate(const std::string& path, const std::string& tag) {
        m_stream.Url = path + (path.find('?') == std::string::npos ? "?" : "&") + "tag=" + tag +
                       "&b={bitrate}&t={start time}";
    }
    // The indexes of the slots that hold a fragment, as digits.
    std::string Cached() {
        std::string slots;
        for (uint32_t i = 0; i < m_stream.GetFragmentSlotCount(); ++i)
            slots += m_stream.GetCachedFragment(i) ? std::to_string(i) : "";
        return slots;
    }

    ScopedTempDirectory m_temp;
    CSSFManifest m_manifest;
    CSSFVideoStream m_stream{&m_manifest};
    CSSFVideoTrack m_low{&m_stream};
    CSSFVideoTrack m_high{&m_stream};
};

TEST_F(FragmentSlotsTest, GetFragment_CachedWhateverTheTrackAndFetchedOnce) {
    const std::string tag = UniqueName("cache");
    UseTemplate("fragment", tag);
    ComPtr<CSSFAsyncFragment> first;
    ASSERT_EQ(m_stream.GetFragment(&m_low, 3, &first, INFINITE), S_OK);
    ASSERT_TRUE(first);
    EXPECT_EQ(first.Get(), m_stream.GetCachedFragment(3).Get());
    EXPECT_NE(first->Url.find("b=100000&t=60000000"), std::string::npos) << first->Url;
    EXPECT_EQ(first->Samples.size(), 2u);

    ComPtr<CSSFAsyncFragment> again;
    EXPECT_EQ(m_stream.GetFragment(&m_high, 3, &again, 0), S_OK);
    EXPECT_EQ(again.Get(), first.Get()) << "the slot's fragment serves every track";
    EXPECT_EQ(m_stream.GetFragment(&m_high, 3, nullptr, 0), S_OK);
    EXPECT_EQ(RequestCount(tag), 1);
    // The slot, this caller and the one before hold references.
    EXPECT_EQ(first->AddRef(), 4u);
    first->Release();
}

TEST_F(FragmentSlotsTest, GetFragment_FailureSticksWithoutNewRequests) {
    const std::string tag = UniqueName("sticky");
    UseTemplate("status/404/f", tag);
    for (int i = 0; i < 3; ++i) {
        ComPtr<CSSFAsyncFragment> fragment;
        EXPECT_EQ(m_stream.GetFragment(&m_low, 0, &fragment, INFINITE), HRESULT(0x80070002));
        ASSERT_TRUE(fragment) << "the failed fragment is handed out too";
        EXPECT_EQ(fragment.Get(), m_stream.GetCachedFragment(0).Get());
    }
    EXPECT_EQ(RequestCount(tag), 1);
    // Once its slot is gone, the chunk is fetched anew.
    m_stream.RemoveFirstFragmentSlots(1);
    EXPECT_EQ(m_stream.GetFragmentSlotCount(), 8u);
    EXPECT_EQ(m_stream.GetFragment(&m_low, 0, nullptr, INFINITE), HRESULT(0x80070002));
    EXPECT_EQ(RequestCount(tag), 2);
    m_stream.RemoveFirstFragmentSlots(100);
    EXPECT_EQ(m_stream.GetFragmentSlotCount(), 0u);
}

TEST_F(FragmentSlotsTest, GetFragment_OutOfRangeAndPendingWithoutWaiting) {
    const std::string gate = UniqueName("slot-gate");
    auto fragment = ComPtr<CSSFAsyncFragment>::Adopt(new CSSFAsyncFragment(""));
    EXPECT_EQ(m_stream.GetFragment(&m_low, 9, &fragment, 0), E_INVALIDARG);
    EXPECT_FALSE(fragment);
    EXPECT_EQ(Cached(), "");

    m_stream.Url = "gate/" + gate;
    EXPECT_EQ(m_stream.GetFragment(&m_low, 2, &fragment, 0), E_PENDING);
    ASSERT_TRUE(fragment);
    EXPECT_EQ(m_stream.GetFragment(&m_low, 2, nullptr, 0), E_PENDING);
    FetchText(m_manifest.BaseUrl + "open/" + gate);
    EXPECT_EQ(m_stream.GetFragment(&m_low, 2, nullptr, INFINITE), S_OK);
}

TEST_F(FragmentSlotsTest, TrimFragments_EarlierSlotsFirstThenTheFarthest) {
    UseTemplate("fragment", UniqueName("trim"));
    for (uint32_t i = 0; i < 9; ++i)
        ASSERT_EQ(m_stream.GetFragment(&m_low, i, nullptr, INFINITE), S_OK);
    const ComPtr<CSSFAsyncFragment> kept = m_stream.GetCachedFragment(2);
    m_stream.TrimFragments(5);
    EXPECT_EQ(Cached(), "2345678");
    EXPECT_EQ(m_stream.GetCachedFragment(2).Get(), kept.Get());
    m_stream.TrimFragments(5);
    EXPECT_EQ(Cached(), "2345678") << "fewer than 8 are left alone";

    // At the start, the trim falls on the farthest slots; the current one always stays.
    ASSERT_EQ(m_stream.GetFragment(&m_low, 0, nullptr, INFINITE), S_OK);
    m_stream.TrimFragments(0);
    EXPECT_EQ(Cached(), "0234567");
    for (uint32_t i = 1; i < 9; ++i)
        m_stream.GetFragment(&m_low, i, nullptr, INFINITE);
    m_stream.TrimFragments(8);
    EXPECT_EQ(Cached(), "2345678");
}

TEST_F(FragmentSlotsTest, Throughput_MeasuredOnceIntoTheTargetBitrate) {
    // 250,000 payload bytes delivered after 1 s: at most 2,000,000 bit/s (plus the
    // boxes), and no less than the body over the time this test saw pass.
    UseTemplate("fragment?pad=250000&delay_ms=1000", UniqueName("rate"));
    m_stream.TargetBitrate = 1;
    const auto begin = std::chrono::steady_clock::now();
    ComPtr<CSSFAsyncFragment> fragment;
    ASSERT_EQ(m_stream.GetFragment(&m_low, 0, &fragment, INFINITE), S_OK);
    const auto elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::steady_clock::now() - begin)
                               .count();
    EXPECT_EQ(m_stream.TargetBitrate, 1u) << "taken at the next request, not this one";
    ASSERT_TRUE(fragment->BitrateMeasured.load());
    int64_t length = 0;
    fragment->HttpFile.GetLength(&length);
    const uint64_t rate = fragment->MeasuredBitrate;
    EXPECT_LE(rate, uint64_t(length) * 8000 / 999);
    EXPECT_GE(rate, uint64_t(length) * 8000 / uint64_t(elapsedMs + 1));

    EXPECT_EQ(m_stream.GetFragment(&m_low, 0, nullptr, 0), S_OK);
    EXPECT_EQ(m_stream.TargetBitrate, rate);
    EXPECT_FALSE(fragment->BitrateMeasured.load());
    m_stream.TargetBitrate = 5;
    EXPECT_EQ(m_stream.GetFragment(&m_low, 0, nullptr, 0), S_OK);
    EXPECT_EQ(m_stream.TargetBitrate, 5u) << "each measurement reaches the stream once";

    // A request that waits through a fetched chunk's download takes its measurement
    // before it returns, so the level chosen next follows it.
    ComPtr<CSSFAsyncFragment> next;
    EXPECT_EQ(m_stream.GetFragment(&m_low, 1, &next, 0), E_PENDING);
    EXPECT_EQ(m_stream.GetFragment(&m_low, 1, nullptr, INFINITE), S_OK);
    EXPECT_EQ(m_stream.TargetBitrate, next->MeasuredBitrate);
}

} // namespace
