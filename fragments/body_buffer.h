// CBodyBuffer: a fragment body held in memory, in storage taken from a process-wide pool,
// so that the large blocks bodies need are reused rather than freed and faulted back in.
#pragma once

#include <cstddef>
#include <memory>

#include "framework/platform/platform.h"

// Free blocks the pool keeps at most; a block given back beyond them is freed.
constexpr size_t kPooledBodyBlocks = 24;

class CBodyBuffer {
public:
    CBodyBuffer() = default;
    ~CBodyBuffer() { ReturnToPool(); }
    CBodyBuffer(CBodyBuffer&& other) noexcept;
    CBodyBuffer& operator=(CBodyBuffer&& other) noexcept;

    // Makes the buffer size bytes long (their values unspecified), taking a block from
    // the pool that holds them when one does. S_OK or E_OUTOFMEMORY (then empty).
    HRESULT Resize(size_t size);
    // Makes room for at least capacity bytes, keeping the Size() bytes held. S_OK or
    // E_OUTOFMEMORY (then unchanged).
    HRESULT Reserve(size_t capacity);
    size_t Capacity() const { return m_capacity; }
    // Gives the block back to the pool; the buffer is empty after.
    void ReturnToPool();

    BYTE* Data() { return m_block.get(); }
    const BYTE* Data() const { return m_block.get(); }
    size_t Size() const { return m_size; }

    // Free blocks in the pool and their bytes, for tests and benchmarks.
    static void GetPoolState(size_t* blocks, size_t* bytes);

private:
    CBodyBuffer(const CBodyBuffer&) = delete;
    CBodyBuffer& operator=(const CBodyBuffer&) = delete;

    std::unique_ptr<BYTE[]> m_block;
    size_t m_capacity = 0;
    size_t m_size = 0;
};
