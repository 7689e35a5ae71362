#include "test_filters.h"

#include <algorithm>
#include <cstring>
#include <cwchar>

#include <gtest/gtest.h>

namespace testfilters {

namespace {

constexpr CLSID kSourceClsid = {0x6a1f0c1e, 0x2b3d, 0x4c5e, {1, 2, 3, 4, 5, 6, 7, 8}};
constexpr CLSID kSinkClsid = {0x6a1f0c1f, 0x2b3d, 0x4c5e, {1, 2, 3, 4, 5, 6, 7, 9}};

} // namespace

CMediaType VideoType(const GUID& subtype, LONG width, LONG height) {
    CMediaType type(&MEDIATYPE_Video);
    type.SetSubtype(&subtype);
    type.SetFormatType(&FORMAT_VideoInfo);
    VIDEOINFOHEADER vih{};
    vih.AvgTimePerFrame = 400000;
    vih.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih.bmiHeader.biWidth = width;
    vih.bmiHeader.biHeight = height;
    vih.bmiHeader.biPlanes = 1;
    vih.bmiHeader.biBitCount = 16;
    vih.bmiHeader.biCompression = subtype.Data1;
    type.SetFormat(reinterpret_cast<const BYTE*>(&vih), sizeof(vih));
    type.SetSampleSize(ULONG(width * height * 2));
    return type;
}

void Journal::Add(const std::string& entry) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_entries.push_back(entry);
    }
    m_changed.notify_all();
}

std::vector<std::string> Journal::Entries() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_entries;
}

bool Journal::WaitForCount(const std::string& entry, size_t count,
                           std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] {
        return size_t(std::count(m_entries.begin(), m_entries.end(), entry)) >= count;
    });
}

size_t Journal::Count(const std::string& entry) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return size_t(std::count(m_entries.begin(), m_entries.end(), entry));
}

TestStream::TestStream(HRESULT* phr, TestSource* filter, LPCWSTR name, const CMediaType& type,
                       Journal* journal)
    : CSourceStream(L"TestStream", phr, filter, name), m_type(type), m_journal(journal),
      m_label(name, name + std::wcslen(name)) {}

TestStream::~TestStream() {
    m_journal->Add("destroy " + m_label);
}

HRESULT TestStream::Inactive() {
    m_journal->Add("inactive " + m_label);
    const HRESULT hr = CSourceStream::Inactive();
    return InactiveResult != S_OK ? InactiveResult : hr;
}

HRESULT TestStream::InitAllocator(IMemAllocator** ppAlloc) {
    const HRESULT hr = CSourceStream::InitAllocator(ppAlloc);
    if (SUCCEEDED(hr))
        m_own = *ppAlloc;
    return hr;
}

HRESULT TestStream::BreakConnect() {
    m_own = nullptr;
    return CSourceStream::BreakConnect();
}

HRESULT TestStream::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pRequest) {
    Requests.push_back(*pRequest);
    Allocators.push_back(pAlloc);
    const HRESULT result = pAlloc == m_own ? OwnBufferResult : ForeignBufferResult;
    if (result != S_OK)
        return result;
    ALLOCATOR_PROPERTIES request{std::max<LONG>(2, pRequest->cBuffers), 64, pRequest->cbAlign, 0};
    ALLOCATOR_PROPERTIES actual{};
    return pAlloc->SetProperties(&request, &actual);
}

HRESULT TestStream::FillBuffer(IMediaSample* pSample) {
    if (Samples >= 0 && m_next >= Samples)
        return S_FALSE;
    if (m_next == PendingAt && !Progress.Check()) {
        ++PendingFills;
        return E_PENDING;
    }
    m_journal->Add("fill " + std::to_string(m_next));
    if (m_next == FailAt)
        return E_ABORT;
    BYTE* data = nullptr;
    pSample->GetPointer(&data);
    const uint32_t index = uint32_t(m_next);
    std::memcpy(data, &index, sizeof(index));
    pSample->SetActualDataLength(sizeof(index));
    REFERENCE_TIME start = REFERENCE_TIME(m_next) * 100;
    REFERENCE_TIME stop = start + 100;
    pSample->SetTime(&start, &stop);
    ++m_next;
    ++Filled;
    return S_OK;
}

HRESULT TestStream::OnThreadCreate() {
    ++ThreadCreated;
    m_next = 0;
    return ThreadCreateResult;
}

HRESULT TestStream::WaitForProgress(DWORD dwTimeoutMs) {
    if (!WaitsForProgress)
        return CSourceStream::WaitForProgress(dwTimeoutMs);
    return Progress.Wait(dwTimeoutMs) ? S_OK : S_FALSE;
}

TestSource::TestSource(HRESULT* phr) : CSource(L"TestSource", nullptr, kSourceClsid, phr) {}

TestInputPin::TestInputPin(HRESULT* phr, TestSink* filter, Journal* journal)
    : CBaseInputPin(L"TestInputPin", filter, filter->FilterLock(), phr, L"In"), m_journal(journal) {
}

std::vector<uint32_t> TestInputPin::Received() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_received;
}

int TestInputPin::EndOfStreams() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_endOfStreams;
}

HRESULT TestInputPin::CheckMediaType(const CMediaType* pmt) {
    ++m_checked;
    return *pmt->Type() == MEDIATYPE_Video && *pmt->Subtype() == Subtype ? S_OK : S_FALSE;
}

HRESULT TestInputPin::GetMediaType(int iPosition, CMediaType* pMediaType) {
    if (iPosition < 0)
        return E_INVALIDARG;
    if (size_t(iPosition) >= Preferred.size())
        return VFW_S_NO_MORE_ITEMS;
    return pMediaType->Set(Preferred[size_t(iPosition)]);
}

STDMETHODIMP TestInputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES* pProps) {
    if (!GiveRequirements)
        return CBaseInputPin::GetAllocatorRequirements(pProps);
    *pProps = Requirements;
    return S_OK;
}

STDMETHODIMP TestInputPin::Receive(IMediaSample* pSample) {
    const HRESULT hr = CBaseInputPin::Receive(pSample);
    if (hr != S_OK)
        return hr;
    BYTE* data = nullptr;
    pSample->GetPointer(&data);
    uint32_t index = 0;
    std::memcpy(&index, data, sizeof(index));
    size_t count;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_received.push_back(index);
        count = m_received.size();
    }
    m_journal->Add("sample " + std::to_string(index));
    return RefuseAfter >= 0 && count > size_t(RefuseAfter) ? S_FALSE : S_OK;
}

STDMETHODIMP TestInputPin::EndOfStream() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_endOfStreams;
    }
    m_journal->Add("end of stream");
    m_pFilter->NotifyEvent(EC_COMPLETE, S_OK, 0);
    return S_OK;
}

// TestSink

TestSink::TestSink(HRESULT* phr, Journal* journal)
    : CBaseFilter(L"TestSink", nullptr, &m_lock, kSinkClsid, phr), m_pin(phr, this, journal) {}

STDMETHODIMP FakeGraph::QueryInterface(REFIID riid, void** ppv) {
    if (riid == IID_IUnknown || riid == IID_IFilterGraph)
        *ppv = static_cast<IFilterGraph*>(this);
    else if (riid == IID_IMediaEventSink)
        *ppv = static_cast<IMediaEventSink*>(this);
    else {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

STDMETHODIMP FakeGraph::Notify(LONG code, LONG_PTR param1, LONG_PTR param2) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_events.push_back({code, param1, param2});
    return S_OK;
}

std::vector<FakeGraph::Event> FakeGraph::Events() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_events;
}

FilterPair::FilterPair(const CMediaType& type) {
    HRESULT hr = S_OK;
    Source = new TestSource(&hr);
    Source->AddRef();
    Stream = new TestStream(&hr, Source, L"Out", type, &Log);
    Sink = new TestSink(&hr, &Log);
    Sink->AddRef();
    Sink->Pin().Subtype = *type.Subtype();
    EXPECT_EQ(hr, S_OK);
}

void FilterPair::StopAll() {
    EXPECT_EQ(Source->Stop(), S_OK);
    EXPECT_EQ(Sink->Stop(), S_OK);
}

FilterPair::~FilterPair() {
    Source->Stop();
    Sink->Stop();
    Out()->Disconnect();
    In()->Disconnect();
    // Without the connection's references each filter holds only the fixture's.
    EXPECT_EQ(Sink->Release(), 0u);
    EXPECT_EQ(Source->Release(), 0u);
}

} // namespace testfilters
