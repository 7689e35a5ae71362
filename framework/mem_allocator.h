// CMemAllocator: a fixed pool of media samples in one block of memory.
//
// SetProperties fixes the count, size, alignment and prefix of the buffers while the
// allocator is decommitted and no sample is out; Commit allocates them; GetBuffer hands
// out free samples, blocking while none is free unless asked not to; a sample comes back
// on its last Release. Decommit fails every waiting and later GetBuffer and frees the
// memory once the last sample is back. All methods may be called from any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "framework/am_event.h"
#include "framework/critical_section.h"
#include "framework/media_sample.h"
#include "framework/platform/platform.h"
#include "framework/platform/unknown_impl.h"

class CMemAllocator : public CUnknownImpl<ComInterface<IMemAllocator, IID_IMemAllocator>> {
public:
    // The reference count starts at 0: the creator takes the first reference. A failed
    // event creation reports E_OUTOFMEMORY through phr.
    explicit CMemAllocator(HRESULT* phr = nullptr);
    ~CMemAllocator() override;

    // VFW_E_ALREADY_COMMITTED while committed, VFW_E_BUFFERS_OUTSTANDING while samples
    // are out, VFW_E_BADALIGN unless cbAlign is a power of two, E_INVALIDARG for negative
    // values. The actual size is the requested one rounded up so that prefix plus buffer
    // is a multiple of the alignment.
    STDMETHODIMP SetProperties(ALLOCATOR_PROPERTIES* pRequest,
                               ALLOCATOR_PROPERTIES* pActual) override;
    STDMETHODIMP GetProperties(ALLOCATOR_PROPERTIES* pProps) override;
    // VFW_E_SIZENOTSET without a buffer count and size; E_OUTOFMEMORY.
    STDMETHODIMP Commit() override;
    STDMETHODIMP Decommit() override;
    // The sample comes with one reference, its buffer aligned to cbAlign with cbPrefix
    // bytes before it. VFW_E_NOT_COMMITTED when decommitted (also for a caller blocked
    // here when Decommit is called); VFW_E_TIMEOUT with AM_GBF_NOWAIT and no free sample.
    // The times are not used.
    STDMETHODIMP GetBuffer(IMediaSample** ppBuffer, REFERENCE_TIME* pStartTime,
                           REFERENCE_TIME* pEndTime, DWORD dwFlags) override;
    // Called by a sample of this allocator on its last Release.
    STDMETHODIMP ReleaseBuffer(IMediaSample* pBuffer) override;

private:
    CMemAllocator(const CMemAllocator&) = delete;
    CMemAllocator& operator=(const CMemAllocator&) = delete;

    class CPoolSample;

    HRESULT AllocateLocked();
    void FreeLocked();
    void UpdateFreeEventLocked();

    CCritSec m_csPool; // guards every member below
    // Manual reset: signalled exactly while GetBuffer would not block (a free sample, or
    // decommitted).
    CAMEvent m_evFree;
    ALLOCATOR_PROPERTIES m_props{0, 0, 1, 0};
    bool m_bCommitted = false;
    uint64_t m_nDecommits = 0; // lets a waiting GetBuffer see a Decommit it slept through
    BYTE* m_pMemory = nullptr; // allocated from Commit until decommitted with all samples back
    std::vector<std::unique_ptr<CPoolSample>> m_samples;
    std::vector<CPoolSample*> m_free;
};
