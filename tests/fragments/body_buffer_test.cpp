#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "fragments/body_buffer.h"
#include "fragments/fragment.h"

namespace {

TEST(BodyBuffer, Resize_ReleasedBlockServesTheNextBodyAndShrinkingKeepsIt) {
    // Larger than any other block of this program, so the pool holds no better fit.
    const size_t size = (7u << 20) + 1;
    CBodyBuffer first;
    ASSERT_EQ(first.Resize(size), S_OK);
    BYTE* const block = first.Data();
    std::memset(block, 0x5A, size);
    ASSERT_EQ(first.Resize(100), S_OK);
    EXPECT_EQ(first.Data(), block);
    EXPECT_EQ(first.Size(), 100u);
    first.ReturnToPool();
    EXPECT_EQ(first.Data(), nullptr);
    EXPECT_EQ(first.Size(), 0u);

    CBodyBuffer second;
    ASSERT_EQ(second.Resize(size), S_OK);
    EXPECT_EQ(second.Data(), block);
    EXPECT_EQ(second.Size(), size);

    CBodyBuffer moved(std::move(second));
    EXPECT_EQ(second.Data(), nullptr);
    EXPECT_EQ(moved.Data(), block);
}

TEST(BodyBuffer, Release_FullPool_KeepsTheLargestBlocks) {
    const size_t count = kPooledBodyBlocks + 6;
    std::vector<std::unique_ptr<CBodyBuffer>> buffers;
    std::vector<size_t> sizes;
    for (size_t i = 0; i < count; ++i) {
        sizes.push_back((i + 1) * 65536 + 1);
        buffers.push_back(std::make_unique<CBodyBuffer>());
        ASSERT_EQ(buffers.back()->Resize(sizes.back()), S_OK);
    }
    // Given back smallest last, so a pool that keeps what came first would lose the
    // large ones.
    std::reverse(buffers.begin(), buffers.end());
    buffers.clear();
    size_t blocks = 0, bytes = 0;
    CBodyBuffer::GetPoolState(&blocks, &bytes);
    EXPECT_EQ(blocks, kPooledBodyBlocks);
    size_t largest = 0;
    for (size_t i = count - kPooledBodyBlocks; i < count; ++i)
        largest += sizes[i];
    EXPECT_GE(bytes, largest);
}

TEST(Fragment, CopyPayload_InsideTheBodyOnly) {
    CSSFFragment fragment("http://127.0.0.1/f");
    ASSERT_EQ(fragment.Body.Resize(100), S_OK);
    for (size_t i = 0; i < 100; ++i)
        fragment.Body.Data()[i] = BYTE(i);
    const HRESULT eof = HRESULT_FROM_WIN32(ERROR_HANDLE_EOF);
    const struct {
        uint64_t Position;
        uint32_t Size;
        HRESULT Result;
    } cases[] = {{0, 100, S_OK},       {90, 10, S_OK},       {100, 0, S_OK},
                 {90, 11, eof},        {101, 0, eof},        {0, 101, eof},
                 {1, UINT32_MAX, eof}, {UINT64_MAX, 1, eof}, {UINT64_MAX - 50, 100, eof}};
    for (const auto& c : cases) {
        std::vector<BYTE> out(c.Result == S_OK ? c.Size + 1 : 1, 0xEE);
        EXPECT_EQ(fragment.CopyPayload(c.Position, c.Size, out.data()), c.Result)
            << c.Position << "+" << c.Size;
        if (c.Result != S_OK) {
            EXPECT_EQ(out[0], 0xEE);
            continue;
        }
        for (uint32_t i = 0; i < c.Size; ++i)
            ASSERT_EQ(out[i], BYTE(c.Position + i));
        EXPECT_EQ(out[c.Size], 0xEE); // nothing past the payload
    }
    fragment.Reset();
    EXPECT_EQ(fragment.Body.Size(), 0u);
}

} // namespace
