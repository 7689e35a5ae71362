// A pass-through stand-in for the decoder, converter and resizer the processor binds:
// each sample's bytes, times and sync flag go downstream as one frame, on the
// upstream thread. Three roles are registered under the processor's display names.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "framework/base_filter.h"
#include "framework/input_pin.h"
#include "framework/media_type.h"
#include "framework/output_pin.h"

namespace fakes {

enum Role { Decoder, Converter, Resizer, RoleCount };

// A role's behaviour, set before the graph is built.
struct RoleSettings {
    std::vector<GUID> Accepted; // input subtypes; empty: any
    CMediaType Offered;         // the output type offered; major type null: the input's
    std::atomic<int> Created{0};
    std::atomic<int> Received{0};
    IFilterGraph* Graph = nullptr; // the last graph joined; not referenced
};
RoleSettings& Settings(Role role);
// Registers the graph classes and the three roles under the display names; resets
// every role's settings. The WVC1 name is left unregistered.
void RegisterFakes();

class FakeTransform;

class FakeInput : public CBaseInputPin {
public:
    FakeInput(FakeTransform* filter, CCritSec* lock, HRESULT* phr);
    HRESULT CheckMediaType(const CMediaType* pmt) override;
    STDMETHODIMP Receive(IMediaSample* sample) override;
    STDMETHODIMP EndOfStream() override;
    STDMETHODIMP BeginFlush() override;
    STDMETHODIMP EndFlush() override;
    STDMETHODIMP NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

private:
    FakeTransform* const m_filter;
};

class FakeOutput : public CBaseOutputPin {
public:
    FakeOutput(FakeTransform* filter, CCritSec* lock, HRESULT* phr);
    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT GetMediaType(int position, CMediaType* type) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;

private:
    FakeTransform* const m_filter;
};

class FakeTransform : public CBaseFilter {
public:
    FakeTransform(Role role, HRESULT* phr);
    int GetPinCount() override { return 2; }
    CBasePin* GetPin(int n) override;
    STDMETHODIMP JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
    RoleSettings& Settings() const { return fakes::Settings(m_role); }
    FakeInput& Input() { return m_input; }
    FakeOutput& Output() { return m_output; }

private:
    const Role m_role;
    CCritSec m_lock;
    FakeInput m_input;
    FakeOutput m_output;
};

} // namespace fakes
