#include "tests/videoproc/fake_transform.h"

#include <algorithm>
#include <cstring>

#include "framework/platform/graph_classes.h"
#include "videoproc/processor_filters.h"

namespace fakes {

namespace {

RoleSettings g_settings[RoleCount];

template <Role role> HRESULT Create(IUnknown* outer, REFIID riid, void** ppv) {
    if (outer != nullptr)
        return CLASS_E_NOAGGREGATION;
    HRESULT hr = S_OK;
    ComPtr<FakeTransform> filter(new FakeTransform(role, &hr));
    ++Settings(role).Created;
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

void RegisterFakes() {
    RegisterGraphClasses();
    RegisterComClass(FakeClsid(Decoder), &Create<Decoder>);
    RegisterComClass(FakeClsid(Converter), &Create<Converter>);
    RegisterComClass(FakeClsid(Resizer), &Create<Resizer>);
    RegisterDisplayName(kAvcDecoderDisplayName, FakeClsid(Decoder));
    RegisterDisplayName(kColorConverterDisplayName, FakeClsid(Converter));
    RegisterDisplayName(kResizerDisplayName, FakeClsid(Resizer));
    for (RoleSettings& settings : g_settings) {
        settings.Accepted.clear();
        settings.Offered.InitMediaType();
        settings.Created = 0;
        settings.Received = 0;
        settings.Graph = nullptr;
    }
}

FakeInput::FakeInput(FakeTransform* filter, CCritSec* lock, HRESULT* phr)
    : CBaseInputPin(nullptr, filter, lock, phr, L"In"), m_filter(filter) {}

HRESULT FakeInput::CheckMediaType(const CMediaType* pmt) {
    const std::vector<GUID>& accepted = m_filter->Settings().Accepted;
    if (pmt->majortype != MEDIATYPE_Video)
        return S_FALSE;
    return accepted.empty() ||
                   std::find(accepted.begin(), accepted.end(), pmt->subtype) != accepted.end()
               ? S_OK
               : S_FALSE;
}

STDMETHODIMP FakeInput::Receive(IMediaSample* sample) {
    HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK)
        return hr;
    ++m_filter->Settings().Received;
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
    frame->SetSyncPoint(TRUE);
    return m_filter->Output().Deliver(frame.Get());
}

STDMETHODIMP FakeInput::EndOfStream() {
    return m_filter->Output().DeliverEndOfStream();
}

STDMETHODIMP FakeInput::BeginFlush() {
    CBaseInputPin::BeginFlush();
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
    if (offered.majortype != GUID_NULL)
        return type->Set(offered);
    AM_MEDIA_TYPE input = {};
    HRESULT hr = m_filter->Input().ConnectionMediaType(&input);
    if (SUCCEEDED(hr))
        hr = type->Set(input);
    FreeMediaType(input);
    return hr;
}

HRESULT FakeOutput::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) {
    request->cBuffers = std::max<LONG>(request->cBuffers, 2);
    request->cbBuffer = std::max<LONG>(request->cbBuffer, 256);
    ALLOCATOR_PROPERTIES actual = {};
    return allocator->SetProperties(request, &actual);
}

FakeTransform::FakeTransform(Role role, HRESULT* phr)
    : CBaseFilter(L"fake", nullptr, &m_lock, CLSID{}, phr), m_role(role),
      m_input(this, &m_lock, phr), m_output(this, &m_lock, phr) {}

CBasePin* FakeTransform::GetPin(int n) {
    return n == 0 ? static_cast<CBasePin*>(&m_input) : n == 1 ? &m_output : nullptr;
}

STDMETHODIMP FakeTransform::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
    if (graph != nullptr)
        Settings().Graph = graph;
    return CBaseFilter::JoinFilterGraph(graph, name);
}

} // namespace fakes
