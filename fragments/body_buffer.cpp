#include "fragments/body_buffer.h"

#include "framework/critical_section.h"

#include <cstring>
#include <new>
#include <utility>
#include <vector>

namespace {

// New blocks are rounded up to this, so bodies of about one size share blocks.
constexpr size_t kBlockGranule = 64 * 1024;

struct FreeBlock {
    std::unique_ptr<BYTE[]> Block;
    size_t Capacity;
};

// The free blocks, at most kPooledBodyBlocks; the vector's storage is reserved once.
class CBlockPool {
public:
    // The smallest free block of at least size bytes; else none (capacity 0).
    FreeBlock Take(size_t size) {
        CAutoLock lock(&m_lock);
        size_t best = m_free.size();
        for (size_t i = 0; i < m_free.size(); ++i)
            if (m_free[i].Capacity >= size &&
                (best == m_free.size() || m_free[i].Capacity < m_free[best].Capacity))
                best = i;
        if (best == m_free.size())
            return FreeBlock{nullptr, 0};
        FreeBlock block = std::move(m_free[best]);
        m_free[best] = std::move(m_free.back());
        m_free.pop_back();
        return block;
    }
    // Keeps block; when the pool is full, frees its smallest block instead (which may
    // be this one): large blocks are the ones worth keeping.
    void Give(FreeBlock block) {
        CAutoLock lock(&m_lock);
        if (m_free.capacity() < kPooledBodyBlocks) {
            try {
                m_free.reserve(kPooledBodyBlocks);
            } catch (const std::bad_alloc&) {
                return; // the block is freed
            }
        }
        if (m_free.size() < kPooledBodyBlocks) {
            m_free.push_back(std::move(block));
            return;
        }
        size_t smallest = 0;
        for (size_t i = 1; i < m_free.size(); ++i)
            if (m_free[i].Capacity < m_free[smallest].Capacity)
                smallest = i;
        if (m_free[smallest].Capacity < block.Capacity)
            std::swap(m_free[smallest], block);
    }
    void State(size_t* blocks, size_t* bytes) {
        CAutoLock lock(&m_lock);
        *blocks = m_free.size();
        *bytes = 0;
        for (const FreeBlock& block : m_free)
            *bytes += block.Capacity;
    }

private:
    CCritSec m_lock;
    std::vector<FreeBlock> m_free; // guarded by m_lock
};

CBlockPool& Pool() {
    static CBlockPool* pool = new CBlockPool; // never destroyed: buffers may outlive main
    return *pool;
}

// A block of at least size bytes, from the pool or new; none when it cannot be had.
FreeBlock TakeBlock(size_t size) {
    FreeBlock block = Pool().Take(size);
    if (block.Block || size > SIZE_MAX - kBlockGranule)
        return block;
    block.Capacity = (size + kBlockGranule - 1) / kBlockGranule * kBlockGranule;
    block.Block.reset(new (std::nothrow) BYTE[block.Capacity]);
    return block;
}

} // namespace

CBodyBuffer::CBodyBuffer(CBodyBuffer&& other) noexcept
    : m_block(std::move(other.m_block)), m_capacity(other.m_capacity), m_size(other.m_size) {
    other.m_capacity = other.m_size = 0;
}

CBodyBuffer& CBodyBuffer::operator=(CBodyBuffer&& other) noexcept {
    if (this != &other) {
        ReturnToPool();
        m_block = std::move(other.m_block);
        m_capacity = other.m_capacity;
        m_size = other.m_size;
        other.m_capacity = other.m_size = 0;
    }
    return *this;
}

HRESULT CBodyBuffer::Resize(size_t size) {
    if (size <= m_capacity) {
        m_size = size;
        return S_OK;
    }
    ReturnToPool();
    HRESULT hr = Reserve(size);
    if (SUCCEEDED(hr))
        m_size = size;
    return hr;
}

HRESULT CBodyBuffer::Reserve(size_t capacity) {
    if (capacity <= m_capacity)
        return S_OK;
    FreeBlock block = TakeBlock(capacity);
    if (!block.Block)
        return E_OUTOFMEMORY;
    if (m_size != 0)
        std::memcpy(block.Block.get(), m_block.get(), m_size);
    const size_t size = m_size;
    ReturnToPool();
    m_block = std::move(block.Block);
    m_capacity = block.Capacity;
    m_size = size;
    return S_OK;
}

void CBodyBuffer::ReturnToPool() {
    if (m_block)
        Pool().Give(FreeBlock{std::move(m_block), m_capacity});
    m_capacity = m_size = 0;
}

void CBodyBuffer::GetPoolState(size_t* blocks, size_t* bytes) {
    Pool().State(blocks, bytes);
}
