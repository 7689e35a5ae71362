// The fragment cache of CSSFStream: one slot per chunk, filled on first request.
#include <new>

#include "fragments/async_fragment.h"
#include "manifest/fragment_url.h"
#include "manifest/manifest.h"
#include "manifest/stream.h"

namespace {

// A trim leaves fewer than this many fragments cached.
constexpr size_t kCachedFragmentLimit = 8;

} // namespace

CSSFStream::FragmentSlot* CSSFStream::SlotLocked(uint32_t chunkIndex) {
    return chunkIndex < m_fragments.size() ? &m_fragments[chunkIndex] : nullptr;
}

ComPtr<CSSFAsyncFragment> CSSFStream::CreateFragment(CSSFTrack* track, uint32_t chunkIndex,
                                                     const std::string& url) {
    const int64_t duration = chunkIndex < Chunks.size() ? Chunks[chunkIndex].Duration : 0;
    const uint64_t limit =
        FragmentBodyLimit(track != nullptr ? track->GetBitrate() : 0,
                          duration > 0 ? uint64_t(duration) : 0, EffectiveTimeScale(TimeScale));
    auto fragment =
        ComPtr<CSSFAsyncFragment>::Adopt(new (std::nothrow) CSSFAsyncFragment(url.c_str(), limit));
    // The probes of a load report to its watch and end with its abort.
    if (fragment)
        fragment->HttpFile.SetWatch(Manifest->GetLoadWatch());
    return fragment;
}

HRESULT CSSFStream::GetFragment(CSSFTrack* track, uint32_t chunkIndex,
                                ComPtr<CSSFAsyncFragment>* fragment, DWORD timeoutMs) {
    if (fragment != nullptr)
        fragment->Reset();
    ComPtr<CSSFAsyncFragment> held;
    bool cached = false;
    {
        CAutoLock lock(&m_lock);
        FragmentSlot* slot = SlotLocked(chunkIndex);
        if (slot == nullptr)
            return E_INVALIDARG;
        cached = slot->Fragment != nullptr;
        if (!cached) {
            if (track == nullptr)
                return E_POINTER;
            std::string url;
            try {
                url = BuildFragmentUrl(*track, chunkIndex);
            } catch (const std::bad_alloc&) {
                return E_OUTOFMEMORY;
            }
            ComPtr<CSSFAsyncFragment> created = CreateFragment(track, chunkIndex, url);
            if (!created)
                return E_OUTOFMEMORY;
            created->CompletionEvent = m_progress;
            // Blocks until the worker takes the request, not for the download.
            const HRESULT hr = created->Start();
            if (FAILED(hr) && hr != E_PENDING)
                return hr;
            slot->Fragment = std::move(created);
            slot->Track = track;
        }
        held = slot->Fragment;
        // Each measurement reaches the stream once, at a request after the one that
        // started its download: a download that beats its own request to this point
        // must not make the result depend on timing.
        if (cached)
            TakeMeasurementLocked(held.Get());
    }
    if (fragment != nullptr)
        *fragment = held;
    const HRESULT hr = held->Wait(timeoutMs);
    // A download that completes while this request waits is taken before the caller goes
    // on to the next chunk, whose level then always follows it.
    if (cached && hr == S_OK) {
        CAutoLock lock(&m_lock);
        TakeMeasurementLocked(held.Get());
    }
    return hr;
}

void CSSFStream::TakeMeasurementLocked(CSSFAsyncFragment* fragment) {
    if (fragment->BitrateMeasured.exchange(FALSE, std::memory_order_acq_rel))
        TargetBitrate = fragment->MeasuredBitrate;
}

ComPtr<CSSFAsyncFragment> CSSFStream::GetCachedFragment(uint32_t chunkIndex) {
    CAutoLock lock(&m_lock);
    FragmentSlot* slot = SlotLocked(chunkIndex);
    return slot != nullptr ? slot->Fragment : nullptr;
}

HRESULT CSSFStream::SetFragmentSlotCount(size_t count) {
    CAutoLock lock(&m_lock);
    for (size_t i = count; i < m_fragments.size(); ++i)
        m_fragments[i] = FragmentSlot{};
    if (count > m_fragments.max_size())
        return E_OUTOFMEMORY;
    try {
        m_fragments.resize(count);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

size_t CSSFStream::GetFragmentSlotCount() {
    CAutoLock lock(&m_lock);
    return m_fragments.size();
}

void CSSFStream::TrimFragments(uint32_t currentChunk) {
    CAutoLock lock(&m_lock);
    size_t cached = 0;
    for (const FragmentSlot& slot : m_fragments)
        cached += slot.Fragment != nullptr;
    if (cached < kCachedFragmentLimit)
        return;
    const size_t current = currentChunk;
    for (size_t i = 0; i < current && i < m_fragments.size() && cached >= kCachedFragmentLimit;
         ++i) {
        if (m_fragments[i].Fragment) {
            m_fragments[i] = FragmentSlot{};
            --cached;
        }
    }
    for (size_t i = m_fragments.size(); i-- > current + 1 && cached >= kCachedFragmentLimit;) {
        if (m_fragments[i].Fragment) {
            m_fragments[i] = FragmentSlot{};
            --cached;
        }
    }
}

void CSSFStream::RemoveFirstFragmentSlots(size_t count) {
    CAutoLock lock(&m_lock);
    if (count > m_fragments.size())
        count = m_fragments.size();
    m_fragments.erase(m_fragments.begin(),
                      m_fragments.begin() + static_cast<std::ptrdiff_t>(count));
}
