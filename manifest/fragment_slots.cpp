// The fragment cache of CSSFStream: one slot per chunk, filled on first request.
#include <new>

#include "fragments/async_fragment.h"
#include "manifest/fragment_url.h"
#include "manifest/stream.h"

namespace {

// A trim leaves fewer than this many fragments cached.
constexpr size_t kCachedFragmentLimit = 8;

void ReleaseSlot(CSSFAsyncFragment** slot) {
    if (*slot != nullptr)
        (*slot)->Release();
    *slot = nullptr;
}

} // namespace

HRESULT CSSFStream::GetFragment(CSSFTrack* track, uint32_t chunkIndex, CSSFAsyncFragment** fragment,
                                DWORD timeoutMs) {
    if (fragment != nullptr)
        *fragment = nullptr;
    CSSFAsyncFragment* held = nullptr;
    {
        CAutoLock lock(&Lock);
        if (chunkIndex >= Fragments.size())
            return E_INVALIDARG;
        CSSFAsyncFragment*& slot = Fragments[chunkIndex];
        const bool cached = slot != nullptr;
        if (!cached) {
            if (track == nullptr)
                return E_POINTER;
            std::string url;
            try {
                url = BuildFragmentUrl(*track, chunkIndex);
            } catch (const std::bad_alloc&) {
                return E_OUTOFMEMORY;
            }
            auto* created = new (std::nothrow) CSSFAsyncFragment(track, url.c_str());
            if (created == nullptr)
                return E_OUTOFMEMORY;
            // Blocks until the worker takes the request, not for the download.
            const HRESULT hr = created->Start();
            if (FAILED(hr) && hr != E_PENDING) {
                created->Release();
                return hr;
            }
            slot = created;
        }
        held = slot;
        // Each measurement reaches the stream once, at a request after the one that
        // started its download: a download that beats its own request to this point
        // must not make the result depend on timing.
        if (cached && held->BitrateMeasured.load(std::memory_order_acquire)) {
            TargetBitrate = held->MeasuredBitrate;
            held->BitrateMeasured.store(FALSE);
        }
        held->AddRef();
    }
    if (fragment != nullptr) {
        held->AddRef();
        *fragment = held;
    }
    const HRESULT hr = held->Wait(timeoutMs);
    held->Release();
    return hr;
}

void CSSFStream::TrimFragments(uint32_t currentChunk) {
    CAutoLock lock(&Lock);
    size_t cached = 0;
    for (CSSFAsyncFragment* slot : Fragments)
        cached += slot != nullptr;
    if (cached < kCachedFragmentLimit)
        return;
    const size_t current = currentChunk;
    for (size_t i = 0; i < current && i < Fragments.size() && cached >= kCachedFragmentLimit; ++i) {
        if (Fragments[i] != nullptr) {
            ReleaseSlot(&Fragments[i]);
            --cached;
        }
    }
    for (size_t i = Fragments.size(); i-- > current + 1 && cached >= kCachedFragmentLimit;) {
        if (Fragments[i] != nullptr) {
            ReleaseSlot(&Fragments[i]);
            --cached;
        }
    }
}

void CSSFStream::RemoveFirstFragmentSlots(size_t count) {
    CAutoLock lock(&Lock);
    if (count > Fragments.size())
        count = Fragments.size();
    for (size_t i = 0; i < count; ++i)
        ReleaseSlot(&Fragments[i]);
    Fragments.erase(Fragments.begin(), Fragments.begin() + static_cast<std::ptrdiff_t>(count));
}
