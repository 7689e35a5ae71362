#include "videoproc/processor_sink.h"

#include <cstddef>
#include <cstring>

#include "framework/catch_out_of_memory.h"
#include "framework/media_type.h"
#include "videoproc/video_processor.h"

namespace {

// {41AE85A1-92FF-4C86-9418-12187EC374F0}: never registered.
constexpr CLSID kSinkClsid = {
    0x41ae85a1, 0x92ff, 0x4c86, {0x94, 0x18, 0x12, 0x18, 0x7e, 0xc3, 0x74, 0xf0}};

// Every AM_SAMPLE2_PROPERTIES field before the buffer pointer and size.
constexpr DWORD kCopiedProperties = DWORD(offsetof(AM_SAMPLE2_PROPERTIES, pbBuffer));

HRESULT CopyProperties2(IMediaSample2* from, IMediaSample2* to) {
    AM_SAMPLE2_PROPERTIES properties = {};
    HRESULT hr = from->GetProperties(kCopiedProperties, reinterpret_cast<BYTE*>(&properties));
    if (SUCCEEDED(hr))
        hr = to->SetProperties(kCopiedProperties, reinterpret_cast<const BYTE*>(&properties));
    return hr;
}

void CopyPropertiesOneByOne(IMediaSample* from, IMediaSample* to) {
    REFERENCE_TIME start = 0, stop = 0;
    if (from->GetTime(&start, &stop) == S_OK)
        to->SetTime(&start, &stop);
    if (from->IsSyncPoint() == S_OK)
        to->SetSyncPoint(TRUE);
    if (from->IsDiscontinuity() == S_OK)
        to->SetDiscontinuity(TRUE);
    if (from->IsPreroll() == S_OK)
        to->SetPreroll(TRUE);
    AM_MEDIA_TYPE* type = nullptr;
    if (from->GetMediaType(&type) == S_OK && type != nullptr) {
        to->SetMediaType(type);
        DeleteMediaType(type);
    }
}

} // namespace

CVideoProcessorSinkPin::CVideoProcessorSinkPin(CVideoProcessorSink* filter, CCritSec* lock,
                                               HRESULT* phr)
    : CBaseInputPin(nullptr, filter, lock, phr, L"Input"), m_filter(filter) {}

CVideoProcessorSinkPin::~CVideoProcessorSinkPin() = default;

HRESULT CVideoProcessorSinkPin::CheckMediaType(const CMediaType*) {
    return S_OK;
}

void CVideoProcessorSinkPin::EmptyQueue() {
    std::deque<QueuedFrame> frames;
    {
        CAutoLock lock(&m_queueLock);
        frames.swap(m_frames);
    }
}

HRESULT CVideoProcessorSinkPin::Inactive() {
    CAutoLock lock(m_pLock);
    if (!IsConnected())
        return S_OK;
    EmptyQueue();
    const HRESULT hr = CBaseInputPin::Inactive();
    return FAILED(hr) ? hr : S_OK;
}

STDMETHODIMP CVideoProcessorSinkPin::EndOfStream() {
    return CatchOutOfMemory([&] {
        {
            CAutoLock lock(&m_queueLock);
            m_frames.push_back({});
        }
        SignalProcessor();
        return S_OK;
    });
}

STDMETHODIMP CVideoProcessorSinkPin::BeginFlush() {
    const HRESULT hr = CBaseInputPin::BeginFlush();
    EmptyQueue();
    return hr;
}

STDMETHODIMP CVideoProcessorSinkPin::Receive(IMediaSample* pSample) {
    if (pSample == nullptr)
        return E_POINTER;
    // A frame that was under way when a flush began belongs to the old position.
    if (IsFlushing())
        return S_OK;
    return CatchOutOfMemory([&] {
        {
            CAutoLock lock(&m_queueLock);
            REFERENCE_TIME start = 0, stop = 0;
            pSample->GetTime(&start, &stop);
            if (start < CurrentStartTime())
                return S_OK;
            m_frames.push_back({ComPtr<IMediaSample>(pSample), pSample->GetActualDataLength()});
        }
        SignalProcessor();
        return S_OK;
    });
}

void CVideoProcessorSinkPin::SignalProcessor() {
    if (CVideoProcessor* processor = m_filter->Processor())
        processor->SignalProgress();
}

HRESULT CVideoProcessorSinkPin::TakeFrame(IMediaSample* sample) {
    if (sample == nullptr)
        return E_POINTER;
    ComPtr<IMediaSample> frame;
    LONG length = 0;
    {
        CAutoLock lock(&m_queueLock);
        if (m_frames.empty())
            return E_PENDING;
        frame = std::move(m_frames.front().sample);
        length = m_frames.front().length;
        m_frames.pop_front();
    }
    if (frame.Get() == nullptr)
        return S_FALSE;

    ComPtr<IMediaSample2> from2, to2;
    if (SUCCEEDED(QueryTo(frame.Get(), IID_IMediaSample2, &from2)) &&
        SUCCEEDED(QueryTo(sample, IID_IMediaSample2, &to2))) {
        const HRESULT hr = CopyProperties2(from2.Get(), to2.Get());
        if (FAILED(hr))
            return hr;
    } else {
        CopyPropertiesOneByOne(frame.Get(), sample);
    }
    LONGLONG mediaStart = 0, mediaStop = 0;
    if (frame->GetMediaTime(&mediaStart, &mediaStop) == S_OK)
        sample->SetMediaTime(&mediaStart, &mediaStop);
    sample->SetActualDataLength(length);

    if (sample->GetSize() < frame->GetSize())
        return E_FAIL;
    BYTE* source = nullptr;
    BYTE* target = nullptr;
    if (FAILED(frame->GetPointer(&source)) || FAILED(sample->GetPointer(&target)))
        return E_FAIL;
    if (length > 0)
        std::memcpy(target, source, size_t(length));
    return S_OK;
}

CVideoProcessorSink::CVideoProcessorSink(CVideoProcessor* processor, HRESULT* phr)
    : CBaseFilter(L"SSF Video Processor Sink", nullptr, &m_lock, kSinkClsid, phr),
      m_processor(processor) {}

CVideoProcessorSink::~CVideoProcessorSink() = default;

CBasePin* CVideoProcessorSink::GetPin(int n) {
    if (n != 0)
        return nullptr;
    CAutoLock lock(&m_lock);
    if (m_pin == nullptr) {
        HRESULT hr = S_OK;
        std::unique_ptr<CVideoProcessorSinkPin> pin(new (std::nothrow)
                                                        CVideoProcessorSinkPin(this, &m_lock, &hr));
        if (pin != nullptr && SUCCEEDED(hr))
            m_pin = std::move(pin);
    }
    return m_pin.get();
}
