// CMemAllocator and its samples: properties, the commit cycle, blocking and waking
// GetBuffer, buffer layout, the sample's rules through IMediaSample and IMediaSample2.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <future>
#include <limits>
#include <thread>
#include <vector>

#include "framework/media_type.h"
#include "framework/mem_allocator.h"

namespace {

using namespace std::chrono_literals;

// Long enough for a blocked call to have returned had it not blocked.
constexpr auto kBlockedFor = 100ms;

class TrackedAllocator : public CMemAllocator {
public:
    explicit TrackedAllocator(std::atomic<int>* destroyed) : m_destroyed(destroyed) {}
    ~TrackedAllocator() override { ++*m_destroyed; }

private:
    std::atomic<int>* m_destroyed;
};

// One reference held by the fixture; Commit with the given properties.
class AllocatorTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_allocator = new TrackedAllocator(&m_destroyed);
        m_allocator->AddRef();
    }
    void TearDown() override {
        if (m_allocator != nullptr) {
            m_allocator->Decommit();
            EXPECT_EQ(m_allocator->Release(), 0u);
        }
        EXPECT_EQ(m_destroyed.load(), 1);
    }

    ALLOCATOR_PROPERTIES Configure(LONG count, LONG size, LONG align = 1, LONG prefix = 0) {
        ALLOCATOR_PROPERTIES request{count, size, align, prefix};
        ALLOCATOR_PROPERTIES actual{};
        EXPECT_EQ(m_allocator->SetProperties(&request, &actual), S_OK);
        EXPECT_EQ(m_allocator->Commit(), S_OK);
        return actual;
    }

    IMediaSample* Get(DWORD flags = 0) {
        IMediaSample* sample = nullptr;
        EXPECT_EQ(m_allocator->GetBuffer(&sample, nullptr, nullptr, flags), S_OK);
        return sample;
    }

    std::atomic<int> m_destroyed{0};
    CMemAllocator* m_allocator = nullptr;
};

TEST_F(AllocatorTest, SetProperties_ValidatesAndRoundsUp) {
    ALLOCATOR_PROPERTIES request{2, 100, 3, 0};
    ALLOCATOR_PROPERTIES actual{};
    EXPECT_EQ(m_allocator->SetProperties(&request, &actual), VFW_E_BADALIGN);
    request.cbAlign = 0;
    EXPECT_EQ(m_allocator->SetProperties(&request, &actual), VFW_E_BADALIGN);
    EXPECT_EQ(m_allocator->Commit(), VFW_E_SIZENOTSET);
    request = ALLOCATOR_PROPERTIES{1, std::numeric_limits<LONG>::max(), 1, 1}; // stride 2^31
    EXPECT_EQ(m_allocator->SetProperties(&request, &actual), E_INVALIDARG);

    request = ALLOCATOR_PROPERTIES{2, 100, 16, 8};
    ASSERT_EQ(m_allocator->SetProperties(&request, &actual), S_OK);
    EXPECT_EQ(actual.cbBuffer, 104); // prefix + buffer = 112
    ALLOCATOR_PROPERTIES current{};
    ASSERT_EQ(m_allocator->GetProperties(&current), S_OK);
    EXPECT_EQ(current.cbBuffer, 104);

    ASSERT_EQ(m_allocator->Commit(), S_OK);
    EXPECT_EQ(m_allocator->SetProperties(&request, &actual), VFW_E_ALREADY_COMMITTED);
    IMediaSample* out = Get();
    ASSERT_EQ(m_allocator->Decommit(), S_OK);
    EXPECT_EQ(m_allocator->SetProperties(&request, &actual), VFW_E_BUFFERS_OUTSTANDING);
    out->Release();
    EXPECT_EQ(m_allocator->SetProperties(&request, &actual), S_OK);
}

TEST_F(AllocatorTest, GetBuffer_AlignedDistinctBuffersWithPrefix) {
    const ALLOCATOR_PROPERTIES actual = Configure(3, 1000, 64, 16);
    std::vector<IMediaSample*> samples;
    for (int i = 0; i < 3; ++i)
        samples.push_back(Get());
    for (size_t i = 0; i < samples.size(); ++i) {
        BYTE* data = nullptr;
        ASSERT_EQ(samples[i]->GetPointer(&data), S_OK);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(data) % 64, 0u);
        EXPECT_EQ(samples[i]->GetSize(), actual.cbBuffer);
        // Prefix and buffer are the sample's own: no other sample's bytes overlap them.
        std::memset(data - 16, int(i + 1), size_t(actual.cbBuffer) + 16);
    }
    for (size_t i = 0; i < samples.size(); ++i) {
        BYTE* data = nullptr;
        samples[i]->GetPointer(&data);
        EXPECT_EQ(data[-16], BYTE(i + 1));
        EXPECT_EQ(data[actual.cbBuffer - 1], BYTE(i + 1));
    }

    IMediaSample* none = reinterpret_cast<IMediaSample*>(1);
    EXPECT_EQ(m_allocator->GetBuffer(&none, nullptr, nullptr, AM_GBF_NOWAIT), VFW_E_TIMEOUT);
    EXPECT_EQ(none, nullptr);

    BYTE* released = nullptr;
    samples[1]->GetPointer(&released);
    EXPECT_EQ(samples[1]->Release(), 0u);
    IMediaSample* again = Get(AM_GBF_NOWAIT);
    ASSERT_NE(again, nullptr);
    BYTE* data = nullptr;
    again->GetPointer(&data);
    EXPECT_EQ(data, released);
    // A sample released twice is refused.
    EXPECT_EQ(again->Release(), 0u);
    EXPECT_EQ(m_allocator->ReleaseBuffer(again), E_INVALIDARG);
    samples[0]->Release();
    samples[2]->Release();
}

TEST_F(AllocatorTest, Commit_CyclesAndSampleKeepsAllocatorAlive) {
    IMediaSample* sample = nullptr;
    EXPECT_EQ(m_allocator->GetBuffer(&sample, nullptr, nullptr, 0), VFW_E_NOT_COMMITTED);
    for (int cycle = 0; cycle < 3; ++cycle) {
        Configure(2, 64);
        IMediaSample* a = Get();
        IMediaSample* b = Get();
        a->Release();
        b->Release();
        ASSERT_EQ(m_allocator->Decommit(), S_OK);
        EXPECT_EQ(m_allocator->GetBuffer(&sample, nullptr, nullptr, 0), VFW_E_NOT_COMMITTED);
    }

    // A sample out after Decommit keeps its memory and its allocator.
    Configure(1, 64);
    IMediaSample* out = Get();
    ASSERT_EQ(m_allocator->Decommit(), S_OK);
    EXPECT_EQ(m_allocator->Release(), 1u);
    m_allocator = nullptr;
    EXPECT_EQ(m_destroyed.load(), 0);
    BYTE* data = nullptr;
    ASSERT_EQ(out->GetPointer(&data), S_OK);
    std::memset(data, 0x5A, 64);
    EXPECT_EQ(out->Release(), 0u);
    EXPECT_EQ(m_destroyed.load(), 1);
}

TEST_F(AllocatorTest, GetBuffer_BlocksUntilAReleaseOrDecommit) {
    Configure(1, 64);
    const auto waiter = [this] {
        return std::async(std::launch::async, [this] {
            IMediaSample* sample = nullptr;
            const HRESULT hr = m_allocator->GetBuffer(&sample, nullptr, nullptr, 0);
            if (sample != nullptr)
                sample->Release();
            return hr;
        });
    };
    IMediaSample* held = Get();
    auto woken = waiter();
    EXPECT_EQ(woken.wait_for(kBlockedFor), std::future_status::timeout);
    held->Release();
    EXPECT_EQ(woken.get(), S_OK);

    // Decommit fails every blocked call, and every later one.
    held = Get();
    std::vector<std::future<HRESULT>> waiters;
    for (int i = 0; i < 3; ++i)
        waiters.push_back(waiter());
    EXPECT_EQ(waiters[0].wait_for(kBlockedFor), std::future_status::timeout);
    for (auto& w : waiters)
        EXPECT_EQ(w.wait_for(0ms), std::future_status::timeout);
    ASSERT_EQ(m_allocator->Decommit(), S_OK);
    for (auto& w : waiters)
        EXPECT_EQ(w.get(), VFW_E_NOT_COMMITTED);
    held->Release();
    IMediaSample* sample = nullptr;
    EXPECT_EQ(m_allocator->GetBuffer(&sample, nullptr, nullptr, 0), VFW_E_NOT_COMMITTED);
}

TEST_F(AllocatorTest, Sample_TimeLengthAndTypeRules_CleanAgainOnReturn) {
    Configure(1, 100);
    IMediaSample* sample = Get();
    REFERENCE_TIME start = 0, stop = 0;
    REFERENCE_TIME t0 = 10000000, t1 = 10400000;
    EXPECT_EQ(sample->GetTime(&start, &stop), VFW_E_SAMPLE_TIME_NOT_SET);
    ASSERT_EQ(sample->SetTime(&t0, nullptr), S_OK);
    EXPECT_EQ(sample->GetTime(&start, &stop), VFW_S_NO_STOP_TIME);
    EXPECT_EQ(stop, t0 + 1);
    EXPECT_EQ(sample->SetActualDataLength(101), VFW_E_BUFFER_OVERFLOW);

    // The sample keeps its own copy of the type.
    CMediaType video(&MEDIATYPE_Video);
    const BYTE format[] = {9, 8, 7};
    video.SetFormat(format, sizeof(format));
    ASSERT_EQ(sample->SetMediaType(&video), S_OK);
    AM_MEDIA_TYPE* type = nullptr;
    ASSERT_EQ(sample->GetMediaType(&type), S_OK);
    ASSERT_EQ(type->cbFormat, 3u);
    EXPECT_NE(type->pbFormat, video.pbFormat);
    EXPECT_EQ(type->pbFormat[2], 7);
    DeleteMediaType(type);

    // Back in the pool the flags, times and type go; the next user starts clean.
    LONGLONG m0 = 5, m1 = 6;
    sample->SetMediaTime(&m0, &m1);
    sample->SetTime(&t0, &t1);
    sample->SetSyncPoint(TRUE);
    sample->SetDiscontinuity(TRUE);
    sample->Release();
    sample = Get();
    EXPECT_EQ(sample->IsSyncPoint(), S_FALSE);
    EXPECT_EQ(sample->IsDiscontinuity(), S_FALSE);
    EXPECT_EQ(sample->GetTime(&start, &stop), VFW_E_SAMPLE_TIME_NOT_SET);
    EXPECT_EQ(sample->GetMediaTime(&m0, &m1), VFW_E_MEDIA_TIME_NOT_SET);
    EXPECT_EQ(sample->GetMediaType(&type), S_FALSE);
    sample->Release();
}

TEST_F(AllocatorTest, Sample2_Properties_FlagsMappedBothWaysAndBufferFixed) {
    Configure(1, 100);
    IMediaSample* sample = Get();
    IMediaSample2* sample2 = nullptr;
    ASSERT_EQ(sample->QueryInterface(IID_IMediaSample2, reinterpret_cast<void**>(&sample2)), S_OK);
    REFERENCE_TIME t0 = 100, t1 = 200;
    sample->SetTime(&t0, &t1);
    sample->SetSyncPoint(TRUE);
    CMediaType video(&MEDIATYPE_Video);
    sample->SetMediaType(&video);

    AM_SAMPLE2_PROPERTIES props{};
    ASSERT_EQ(sample2->GetProperties(sizeof(props), reinterpret_cast<BYTE*>(&props)), S_OK);
    EXPECT_EQ(props.dwSampleFlags, DWORD(AM_SAMPLE_SPLICEPOINT | AM_SAMPLE_TIMEVALID |
                                         AM_SAMPLE_STOPVALID | AM_SAMPLE_TYPECHANGED));

    props.dwSampleFlags = AM_SAMPLE_PREROLL | AM_SAMPLE_DATADISCONTINUITY | AM_SAMPLE_TIMEVALID;
    props.lActual = 70;
    ASSERT_EQ(sample2->SetProperties(sizeof(props), reinterpret_cast<const BYTE*>(&props)), S_OK);
    EXPECT_EQ(sample->IsSyncPoint(), S_FALSE);
    EXPECT_EQ(sample->IsPreroll(), S_OK);
    EXPECT_EQ(sample->IsDiscontinuity(), S_OK);
    REFERENCE_TIME start = 0, stop = 0;
    EXPECT_EQ(sample->GetTime(&start, &stop), VFW_S_NO_STOP_TIME);
    AM_MEDIA_TYPE* type = nullptr;
    EXPECT_EQ(sample->GetMediaType(&type), S_FALSE); // TYPECHANGED was cleared

    // Only the leading fields: the flags change, the length stays.
    AM_SAMPLE2_PROPERTIES head{};
    head.dwSampleFlags = AM_SAMPLE_SPLICEPOINT;
    ASSERT_EQ(sample2->SetProperties(offsetof(AM_SAMPLE2_PROPERTIES, lActual),
                                     reinterpret_cast<const BYTE*>(&head)),
              S_OK);
    EXPECT_EQ(sample->IsSyncPoint(), S_OK);
    EXPECT_EQ(sample->GetActualDataLength(), 70);

    // The buffer cannot be moved, nor the length set past it.
    ASSERT_EQ(sample2->GetProperties(sizeof(props), reinterpret_cast<BYTE*>(&props)), S_OK);
    AM_SAMPLE2_PROPERTIES moved = props;
    moved.pbBuffer = props.pbBuffer + 1;
    EXPECT_EQ(sample2->SetProperties(sizeof(moved), reinterpret_cast<const BYTE*>(&moved)),
              E_INVALIDARG);
    moved = props;
    moved.lActual = 101;
    EXPECT_EQ(sample2->SetProperties(sizeof(moved), reinterpret_cast<const BYTE*>(&moved)),
              E_INVALIDARG);
    sample2->Release();
    sample->Release();
}

} // namespace
