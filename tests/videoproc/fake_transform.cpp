#include "tests/videoproc/fake_transform.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "framework/base_filter.h"
#include "framework/input_pin.h"
#include "framework/output_pin.h"
#include "framework/platform/graph_classes.h"
#include "videoproc/processor_filters.h"

namespace fakes {

namespace {

RoleSettings g_settings[RoleCount];

class FakeTransform;

class FakeInput : public CBaseInputPin {
public:
    FakeInput(FakeTransform* filter, CCritSec* lock, HRESULT* phr);
    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT CompleteConnect(IPin* peer) override;
    HRESULT Inactive() override;
    STDMETHODIMP Receive(IMediaSample* sample) override;
    STDMETHODIMP EndOfStream() override;
    STDMETHODIMP BeginFlush() override;
    STDMETHODIMP EndFlush() override;
    STDMETHODIMP NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

private:
    void DropHeld();

    FakeTransform* const m_filter;
    std::mutex m_heldMutex;
    std::vector<ComPtr<IMediaSample>> m_held;
};

class FakeOutput : public CBaseOutputPin {
public:
    FakeOutput(FakeTransform* filter, CCritSec* lock, HRESULT* phr);
    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT GetMediaType(int position, CMediaType* type) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override {
        request->cBuffers = std::max<LONG>(request->cBuffers, 2);
        request->cbBuffer = std::max<LONG>({request->cbBuffer, 256, LONG(m_mt.lSampleSize)});
        ALLOCATOR_PROPERTIES actual = {};
        return allocator->SetProperties(request, &actual);
    }

private:
    FakeTransform* const m_filter;
};

class FakeTransform : public CBaseFilter {
public:
    FakeTransform(Role role, HRESULT* phr)
        : CBaseFilter(L"fake", nullptr, &m_lock, CLSID{}, phr), m_role(role),
          m_input(this, &m_lock, phr), m_output(this, &m_lock, phr) {}
    int GetPinCount() override { return 2; }
    CBasePin* GetPin(int n) override {
        return n == 0 ? static_cast<CBasePin*>(&m_input) : n == 1 ? &m_output : nullptr;
    }
    STDMETHODIMP JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override {
        if (graph != nullptr)
            Settings().Graph = graph;
        return CBaseFilter::JoinFilterGraph(graph, name);
    }
    RoleSettings& Settings() const { return g_settings[m_role]; }
    FakeInput& Input() { return m_input; }
    FakeOutput& Output() { return m_output; }

private:
    const Role m_role;
    CCritSec m_lock;
    FakeInput m_input;
    FakeOutput m_output;
};

FakeInput::FakeInput(FakeTransform* filter, CCritSec* lock, HRESULT* phr)
    : CBaseInputPin(nullptr, filter, lock, phr, L"In"), m_filter(filter) {}

HRESULT FakeInput::CheckMediaType(const CMediaType* pmt) {
    const std::vector<GUID>& accepted = m_filter->Settings().Accepted;
    return pmt->majortype == MEDIATYPE_Video &&
                   (accepted.empty() ||
                    std::find(accepted.begin(), accepted.end(), pmt->subtype) != accepted.end())
               ? S_OK
               : S_FALSE;
}

HRESULT FakeInput::CompleteConnect(IPin* peer) {
    m_filter->Settings().Input = m_mt;
    m_filter->Settings().Upstream = peer;
    return CBaseInputPin::CompleteConnect(peer);
}

void FakeInput::DropHeld() {
    std::vector<ComPtr<IMediaSample>> held;
    std::lock_guard<std::mutex> lock(m_heldMutex);
    held.swap(m_held);
}

HRESULT FakeInput::Inactive() {
    DropHeld();
    return CBaseInputPin::Inactive();
}

STDMETHODIMP FakeInput::Receive(IMediaSample* sample) {
    if (IsFlushing())
        ++m_filter->Settings().ReceivedWhileFlushing;
    HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK)
        return hr;
    ++m_filter->Settings().Received;
    if (m_filter->Settings().Hold) {
        std::lock_guard<std::mutex> lock(m_heldMutex);
        m_held.emplace_back(sample);
        return S_OK;
    }
    ComPtr<IMediaSample> frame;
    hr = m_filter->Output().GetDeliveryBuffer(frame.Out(), nullptr, nullptr, 0);
    if (FAILED(hr))
        return hr;
    BYTE* from = nullptr;
    BYTE* to = nullptr;
    sample->GetPointer(&from);
    frame->GetPointer(&to);
    const LONG length = std::min(sample->GetActualDataLength(), frame->GetSize());
    std::memcpy(to, from, size_t(length));
    frame->SetActualDataLength(length);
    REFERENCE_TIME start = 0, stop = 0;
    if (sample->GetTime(&start, &stop) == S_OK)
        frame->SetTime(&start, &stop);
    frame->SetSyncPoint(sample->IsSyncPoint() == S_OK ? TRUE : FALSE);
    return m_filter->Output().Deliver(frame.Get());
}

STDMETHODIMP FakeInput::EndOfStream() {
    return m_filter->Output().DeliverEndOfStream();
}

STDMETHODIMP FakeInput::BeginFlush() {
    CBaseInputPin::BeginFlush();
    DropHeld();
    return m_filter->Output().DeliverBeginFlush();
}

STDMETHODIMP FakeInput::EndFlush() {
    CBaseInputPin::EndFlush();
    return m_filter->Output().DeliverEndFlush();
}

STDMETHODIMP FakeInput::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    CBaseInputPin::NewSegment(start, stop, rate);
    return m_filter->Output().DeliverNewSegment(start, stop, rate);
}

FakeOutput::FakeOutput(FakeTransform* filter, CCritSec* lock, HRESULT* phr)
    : CBaseOutputPin(nullptr, filter, lock, phr, L"Out"), m_filter(filter) {}

HRESULT FakeOutput::CheckMediaType(const CMediaType* pmt) {
    return pmt->majortype == MEDIATYPE_Video && m_filter->Input().IsConnected() ? S_OK : S_FALSE;
}

HRESULT FakeOutput::GetMediaType(int position, CMediaType* type) {
    if (position != 0)
        return VFW_S_NO_MORE_ITEMS;
    const CMediaType& offered = m_filter->Settings().Offered;
    return type->Set(offered.majortype != GUID_NULL ? offered
                                                    : m_filter->Input().CurrentMediaType());
}

template <Role role> HRESULT Create(IUnknown* outer, REFIID riid, void** ppv) {
    if (outer != nullptr)
        return CLASS_E_NOAGGREGATION;
    HRESULT hr = S_OK;
    ComPtr<FakeTransform> filter(new FakeTransform(role, &hr));
    ++g_settings[role].Created;
    return FAILED(hr) ? hr : filter->QueryInterface(riid, ppv);
}

// {6A0C0A51-0000-4000-8000-00000000000x}: the fakes' classes.
constexpr CLSID FakeClsid(Role role) {
    return CLSID{0x6a0c0a51, 0, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, BYTE(role)}};
}

} // namespace

RoleSettings& Settings(Role role) {
    return g_settings[role];
}

void ResetFakes() {
    RegisterComClass(FakeClsid(Decoder), &Create<Decoder>);
    RegisterComClass(FakeClsid(Converter), &Create<Converter>);
    RegisterComClass(FakeClsid(Resizer), &Create<Resizer>);
    for (RoleSettings& settings : g_settings) {
        settings.Accepted.clear();
        settings.Offered.InitMediaType();
        settings.Input.InitMediaType();
        settings.Hold = false;
        settings.Created = settings.Received = settings.ReceivedWhileFlushing = 0;
        settings.Graph = nullptr;
        settings.Upstream = nullptr;
    }
}

void BindFake(Role role) {
    const WCHAR* names[] = {kAvcDecoderDisplayName, kColorConverterDisplayName,
                            kResizerDisplayName};
    RegisterDisplayName(names[role], FakeClsid(role));
}

void RegisterFakes() {
    RegisterGraphClasses();
    ResetFakes();
    for (Role role : {Decoder, Converter, Resizer})
        BindFake(role);
}

} // namespace fakes
