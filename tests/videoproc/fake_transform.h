// Pass-through stand-ins for the decoder, converter and resizer the processor binds by display
// name: each sample's bytes, times and sync flag go downstream as one frame, on its thread.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "framework/base_filter.h"
#include "framework/input_pin.h"
#include "framework/output_pin.h"
#include "framework/platform/graph_classes.h"
#include "videoproc/posix/video_picture.h"
#include "videoproc/processor_filters.h"

namespace fakes {

enum Role { Decoder, Converter, Resizer, RoleCount };

// A role's behaviour, set before the graph is built, and what it saw.
struct RoleSettings {
    CMediaType Offered;               // the output type offered; without a major type the input's
    std::atomic<bool> Hold{false};    // keep every sample received (until a flush or Stop)
    std::atomic<int> FlushPauseMs{0}; // pause in a flush once passed on and held ones dropped
    std::atomic<int> Created{0}, ReceivedWhileFlushing{0};
    std::atomic<REFERENCE_TIME> Passed{-1}; // start of the last sample held, or passed on
    CMediaType Input;              // of the last input connection, with its graph and peer:
    IFilterGraph* Graph = nullptr; // not referenced
    IPin* Upstream = nullptr;      // not referenced
};

inline std::unique_ptr<RoleSettings> g_settings[RoleCount];
inline RoleSettings& Settings(Role role) {
    return *g_settings[role];
}

// An uncompressed picture type, frames of 40 ms.
inline CMediaType Picture(const GUID& subtype, LONG width = 320, LONG height = 180) {
    CMediaType type;
    EXPECT_EQ(MakeVideoType(subtype, width, height, 400000, false, &type), S_OK);
    return type;
}

class FakeTransform : public CBaseFilter {
    struct Output : CBaseOutputPin {
        Output(FakeTransform* f, HRESULT* phr)
            : CBaseOutputPin(nullptr, f, &f->m_lock, phr, L"Out"), m_f(f) {}
        HRESULT CheckMediaType(const CMediaType*) override { return S_OK; }
        HRESULT GetMediaType(int position, CMediaType* type) override {
            const CMediaType& offered = Settings(m_f->m_role).Offered;
            if (position != 0)
                return VFW_S_NO_MORE_ITEMS;
            return type->Set(offered.IsValid() ? offered : m_f->m_input.CurrentMediaType());
        }
        HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES*) override {
            ALLOCATOR_PROPERTIES want = {2, std::max<LONG>(256, LONG(m_mt.lSampleSize)), 1, 0}, got;
            return allocator->SetProperties(&want, &got);
        }
        FakeTransform* const m_f;
    };

    struct Input : CBaseInputPin {
        Input(FakeTransform* f, HRESULT* phr)
            : CBaseInputPin(nullptr, f, &f->m_lock, phr, L"In"), m_f(f) {}
        RoleSettings& Role() { return Settings(m_f->m_role); }
        HRESULT CheckMediaType(const CMediaType* pmt) override {
            return pmt->majortype == MEDIATYPE_Video ? S_OK : S_FALSE;
        }
        HRESULT CompleteConnect(IPin* peer) override {
            Role().Input = m_mt;
            Role().Graph = m_f->GetFilterGraph();
            Role().Upstream = peer;
            return CBaseInputPin::CompleteConnect(peer);
        }
        HRESULT Inactive() override {
            DropHeld();
            return CBaseInputPin::Inactive();
        }
        STDMETHODIMP Receive(IMediaSample* sample) override {
            Role().ReceivedWhileFlushing += IsFlushing() ? 1 : 0;
            HRESULT hr = CBaseInputPin::Receive(sample);
            REFERENCE_TIME start = -1, stop = -1;
            sample->GetTime(&start, &stop);
            if (hr != S_OK)
                return hr;
            if (Role().Hold) {
                std::lock_guard<std::mutex> lock(m_heldMutex);
                m_held.emplace_back(sample);
            } else {
                ComPtr<IMediaSample> frame;
                if (FAILED(hr = m_f->m_output.GetDeliveryBuffer(frame.Out(), nullptr, nullptr, 0)))
                    return hr;
                BYTE *from = nullptr, *to = nullptr;
                sample->GetPointer(&from);
                frame->GetPointer(&to);
                const LONG length = std::min(sample->GetActualDataLength(), frame->GetSize());
                std::memcpy(to, from, size_t(length));
                frame->SetActualDataLength(length);
                frame->SetTime(&start, &stop);
                frame->SetSyncPoint(sample->IsSyncPoint() == S_OK ? TRUE : FALSE);
                hr = m_f->m_output.Deliver(frame.Get());
            }
            Role().Passed = start;
            return hr;
        }
        STDMETHODIMP EndOfStream() override { return m_f->m_output.DeliverEndOfStream(); }
        STDMETHODIMP BeginFlush() override {
            CBaseInputPin::BeginFlush();
            const HRESULT hr = m_f->m_output.DeliverBeginFlush();
            DropHeld();
            std::this_thread::sleep_for(std::chrono::milliseconds(Role().FlushPauseMs));
            return hr;
        }
        STDMETHODIMP EndFlush() override {
            CBaseInputPin::EndFlush();
            return m_f->m_output.DeliverEndFlush();
        }
        STDMETHODIMP NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override {
            CBaseInputPin::NewSegment(start, stop, rate);
            return m_f->m_output.DeliverNewSegment(start, stop, rate);
        }
        void DropHeld() {
            std::vector<ComPtr<IMediaSample>> held;
            std::lock_guard<std::mutex> lock(m_heldMutex);
            held.swap(m_held);
        }

        FakeTransform* const m_f;
        std::mutex m_heldMutex;
        std::vector<ComPtr<IMediaSample>> m_held;
    };

public:
    FakeTransform(Role role, HRESULT* phr)
        : CBaseFilter(L"fake", nullptr, &m_lock, CLSID{}, phr), m_role(role), m_input(this, phr),
          m_output(this, phr) {}
    int GetPinCount() override { return 2; }
    CBasePin* GetPin(int n) override {
        return n == 0 ? static_cast<CBasePin*>(&m_input) : n == 1 ? &m_output : nullptr;
    }

    // {6A0C0A51-0000-4000-8000-00000000000x}: the fakes' classes.
    static constexpr CLSID Clsid(Role role) {
        return CLSID{0x6a0c0a51, 0, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, BYTE(role)}};
    }
    template <Role role> static HRESULT Create(IUnknown* outer, REFIID riid, void** ppv) {
        HRESULT hr = outer != nullptr ? CLASS_E_NOAGGREGATION : S_OK;
        ComPtr<FakeTransform> filter(new FakeTransform(role, &hr));
        ++Settings(role).Created;
        return FAILED(hr) ? hr : filter->QueryInterface(riid, ppv);
    }

private:
    const Role m_role;
    CCritSec m_lock;
    Input m_input;
    Output m_output;
};

// Registers the graph's and the fakes' classes, resets every role's settings and points
// the display names of the roles given at their fakes (the others keep their binding).
inline void UseFakes(std::initializer_list<Role> bound = {Decoder, Converter, Resizer}) {
    static const WCHAR* const names[] = {kAvcDecoderDisplayName, kColorConverterDisplayName,
                                         kResizerDisplayName};
    RegisterGraphClasses();
    RegisterComClass(FakeTransform::Clsid(Decoder), &FakeTransform::Create<Decoder>);
    RegisterComClass(FakeTransform::Clsid(Converter), &FakeTransform::Create<Converter>);
    RegisterComClass(FakeTransform::Clsid(Resizer), &FakeTransform::Create<Resizer>);
    for (std::unique_ptr<RoleSettings>& settings : g_settings)
        settings = std::make_unique<RoleSettings>();
    for (Role role : bound)
        RegisterDisplayName(names[role], FakeTransform::Clsid(role));
}

} // namespace fakes
