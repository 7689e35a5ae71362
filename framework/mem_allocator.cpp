#include "framework/mem_allocator.h"

#include <cstdint>
#include <cstdlib>
#include <limits>
#include <new>

// A sample that knows whether it is in its allocator's free list.
class CMemAllocator::CPoolSample : public CMediaSample {
public:
    using CMediaSample::CMediaSample;
    bool m_bFree = true; // guarded by the allocator's m_csPool
};

CMemAllocator::CMemAllocator(HRESULT* phr) : m_evFree(TRUE, phr) {}

CMemAllocator::~CMemAllocator() {
    // Every sample out holds a reference, so all are back here.
    CAutoLock lock(&m_csPool);
    FreeLocked();
}

STDMETHODIMP CMemAllocator::SetProperties(ALLOCATOR_PROPERTIES* pRequest,
                                          ALLOCATOR_PROPERTIES* pActual) {
    if (pRequest == nullptr || pActual == nullptr)
        return E_POINTER;
    CAutoLock lock(&m_csPool);
    if (m_bCommitted)
        return VFW_E_ALREADY_COMMITTED;
    if (m_samples.size() != m_free.size())
        return VFW_E_BUFFERS_OUTSTANDING;
    const LONG align = pRequest->cbAlign;
    if (align <= 0 || (align & (align - 1)) != 0)
        return VFW_E_BADALIGN;
    if (pRequest->cBuffers < 0 || pRequest->cbBuffer < 0 || pRequest->cbPrefix < 0)
        return E_INVALIDARG;
    const int64_t stride =
        (int64_t(pRequest->cbBuffer) + pRequest->cbPrefix + align - 1) / align * align;
    if (stride > std::numeric_limits<LONG>::max())
        return E_INVALIDARG;
    FreeLocked();
    m_props = *pRequest;
    m_props.cbBuffer = LONG(stride - pRequest->cbPrefix);
    *pActual = m_props;
    return S_OK;
}

STDMETHODIMP CMemAllocator::GetProperties(ALLOCATOR_PROPERTIES* pProps) {
    if (pProps == nullptr)
        return E_POINTER;
    CAutoLock lock(&m_csPool);
    *pProps = m_props;
    return S_OK;
}

STDMETHODIMP CMemAllocator::Commit() {
    CAutoLock lock(&m_csPool);
    if (m_bCommitted)
        return S_OK;
    if (m_props.cBuffers <= 0 || m_props.cbBuffer <= 0)
        return VFW_E_SIZENOTSET;
    // After a Decommit with samples still out the memory is still there: reuse it.
    if (m_pMemory == nullptr) {
        const HRESULT hr = AllocateLocked();
        if (FAILED(hr))
            return hr;
    }
    m_bCommitted = true;
    UpdateFreeEventLocked();
    return S_OK;
}

STDMETHODIMP CMemAllocator::Decommit() {
    CAutoLock lock(&m_csPool);
    if (!m_bCommitted)
        return S_OK;
    m_bCommitted = false;
    ++m_nDecommits;
    if (m_free.size() == m_samples.size())
        FreeLocked();
    UpdateFreeEventLocked();
    return S_OK;
}

STDMETHODIMP CMemAllocator::GetBuffer(IMediaSample** ppBuffer, REFERENCE_TIME*, REFERENCE_TIME*,
                                      DWORD dwFlags) {
    if (ppBuffer == nullptr)
        return E_POINTER;
    *ppBuffer = nullptr;
    uint64_t decommits = 0;
    for (bool waited = false;; waited = true) {
        {
            CAutoLock lock(&m_csPool);
            // A Decommit while this call waited fails it even if Commit followed.
            if (!waited)
                decommits = m_nDecommits;
            if (!m_bCommitted || decommits != m_nDecommits)
                return VFW_E_NOT_COMMITTED;
            if (!m_free.empty()) {
                CPoolSample* sample = m_free.back();
                m_free.pop_back();
                sample->m_bFree = false;
                UpdateFreeEventLocked();
                // Each sample out keeps the allocator alive until it comes back.
                AddRef();
                sample->AddRef();
                *ppBuffer = sample;
                return S_OK;
            }
            if (dwFlags & AM_GBF_NOWAIT)
                return VFW_E_TIMEOUT;
        }
        m_evFree.Wait(INFINITE);
    }
}

STDMETHODIMP CMemAllocator::ReleaseBuffer(IMediaSample* pBuffer) {
    if (pBuffer == nullptr)
        return E_POINTER;
    {
        CAutoLock lock(&m_csPool);
        CPoolSample* sample = nullptr;
        for (const auto& candidate : m_samples)
            if (static_cast<IMediaSample*>(candidate.get()) == pBuffer)
                sample = candidate.get();
        if (sample == nullptr || sample->m_bFree)
            return E_INVALIDARG;
        sample->m_bFree = true;
        m_free.push_back(sample);
        if (!m_bCommitted && m_free.size() == m_samples.size())
            FreeLocked();
        UpdateFreeEventLocked();
    }
    // The reference GetBuffer took; it may be the last one.
    Release();
    return S_OK;
}

HRESULT CMemAllocator::AllocateLocked() {
    const size_t align = size_t(m_props.cbAlign);
    const size_t stride = size_t(m_props.cbBuffer) + size_t(m_props.cbPrefix);
    const size_t count = size_t(m_props.cBuffers);
    if (stride != 0 && count > (std::numeric_limits<size_t>::max() - align) / stride)
        return E_OUTOFMEMORY;
    auto* memory = static_cast<BYTE*>(std::malloc(count * stride + align));
    if (memory == nullptr)
        return E_OUTOFMEMORY;
    // The first buffer (past its prefix) at the first aligned address; stride keeps the
    // others aligned.
    const uintptr_t raw = reinterpret_cast<uintptr_t>(memory) + size_t(m_props.cbPrefix);
    BYTE* first = memory + ((raw + align - 1) / align * align - raw) + m_props.cbPrefix;
    try {
        m_samples.reserve(count);
        m_free.reserve(count);
        for (size_t i = 0; i < count; ++i) {
            m_samples.push_back(
                std::make_unique<CPoolSample>(this, first + i * stride, m_props.cbBuffer));
            m_free.push_back(m_samples.back().get());
        }
    } catch (const std::bad_alloc&) {
        m_samples.clear();
        m_free.clear();
        std::free(memory);
        return E_OUTOFMEMORY;
    }
    m_pMemory = memory;
    return S_OK;
}

void CMemAllocator::FreeLocked() {
    m_free.clear();
    m_samples.clear();
    std::free(m_pMemory);
    m_pMemory = nullptr;
}

void CMemAllocator::UpdateFreeEventLocked() {
    if (!m_bCommitted || !m_free.empty())
        m_evFree.Set();
    else
        m_evFree.Reset();
}
