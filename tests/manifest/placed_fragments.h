// Streams whose fragments the test places: a placed fragment is what the stream gets
// when it first asks for its chunk, instead of a download.
#pragma once

#include <map>

#include "fragments/async_fragment.h"
#include "manifest/stream.h"

// A fragment that never starts a download: it keeps the result it was given (E_FAIL,
// as a fragment that never downloaded, unless a test sets another).
class PlacedFragment : public CSSFAsyncFragment {
public:
    explicit PlacedFragment(HRESULT result = E_FAIL) : CSSFAsyncFragment("placed") {
        Result = result;
    }
    HRESULT Start() override { return S_OK; }
};

template <typename Stream> class PlacingStream : public Stream {
public:
    using Stream::Stream;

    // Puts fragment (its reference taken over) into chunk's slot, created for track. A
    // slot that holds a fragment already is emptied first, with every slot after it.
    void Place(uint32_t chunk, CSSFTrack* track, CSSFAsyncFragment* fragment) {
        m_placed[chunk] = ComPtr<CSSFAsyncFragment>::Adopt(fragment);
        if (this->GetCachedFragment(chunk)) {
            const size_t count = this->GetFragmentSlotCount();
            this->SetFragmentSlotCount(chunk);
            this->SetFragmentSlotCount(count);
        }
        this->GetFragment(track, chunk, nullptr, 0);
        m_placed.erase(chunk);
    }

protected:
    ComPtr<CSSFAsyncFragment> CreateFragment(CSSFTrack* track, uint32_t chunk,
                                             const std::string& url) override {
        auto placed = m_placed.find(chunk);
        return placed != m_placed.end() ? placed->second
                                        : Stream::CreateFragment(track, chunk, url);
    }

private:
    std::map<uint32_t, ComPtr<CSSFAsyncFragment>> m_placed;
};
