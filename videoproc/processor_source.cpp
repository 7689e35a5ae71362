#include "videoproc/processor_source.h"

#include <algorithm>
#include <new>

#include "framework/catch_out_of_memory.h"
#include "framework/media_type.h"
#include "videoproc/video_processor.h"

namespace {

// {FC35B4F1-7DFC-43A9-902D-31655AC0A289}: never registered.
constexpr CLSID kSourceClsid = {
    0xfc35b4f1, 0x7dfc, 0x43a9, {0x90, 0x2d, 0x31, 0x65, 0x5a, 0xc0, 0xa2, 0x89}};

} // namespace

CVideoProcessorSourcePin::CVideoProcessorSourcePin(CVideoProcessorSource* filter, CCritSec* lock,
                                                   HRESULT* phr)
    : CAMThread(phr), CBaseOutputPin(nullptr, filter, lock, phr, L"Output"), m_filter(filter),
      m_inputEvent(FALSE, phr) {}

CVideoProcessorSourcePin::~CVideoProcessorSourcePin() = default;

HRESULT CVideoProcessorSourcePin::Active() {
    CAutoLock lock(m_pLock);
    if (m_filter->IsActive())
        return S_FALSE;
    if (!IsConnected())
        return S_OK;
    HRESULT hr = CBaseOutputPin::Active();
    if (FAILED(hr))
        return hr;
    if (!Create())
        return E_FAIL;
    hr = Command(CMD_INIT);
    if (FAILED(hr)) {
        // The thread has ended after its reply.
        Close();
        return hr;
    }
    return Command(CMD_PAUSE);
}

HRESULT CVideoProcessorSourcePin::Inactive() {
    CAutoLock lock(m_pLock);
    if (!IsConnected())
        return S_OK;
    HRESULT hr = CBaseOutputPin::Inactive();
    if (FAILED(hr))
        return hr;
    if (ThreadExists()) {
        hr = Command(CMD_STOP);
        if (FAILED(hr))
            return hr;
        hr = Command(CMD_EXIT);
        if (FAILED(hr))
            return hr;
        Close();
    }
    DropInput();
    return S_OK;
}

HRESULT CVideoProcessorSourcePin::CheckMediaType(const CMediaType* pmt) {
    if (pmt == nullptr)
        return E_POINTER;
    return *pmt == m_filter->Processor()->InputType() ? S_OK : S_FALSE;
}

HRESULT CVideoProcessorSourcePin::GetMediaType(int iPosition, CMediaType* pMediaType) {
    if (pMediaType == nullptr)
        return E_POINTER;
    if (iPosition < 0)
        return E_INVALIDARG;
    if (iPosition > 0)
        return VFW_S_NO_MORE_ITEMS;
    return CatchOutOfMemory([&] {
        *pMediaType = m_filter->Processor()->InputType();
        return S_OK;
    });
}

HRESULT CVideoProcessorSourcePin::DecideBufferSize(IMemAllocator* pAlloc,
                                                   ALLOCATOR_PROPERTIES* pRequest) {
    if (pAlloc == nullptr || pRequest == nullptr)
        return E_POINTER;
    const ALLOCATOR_PROPERTIES& input = m_filter->Processor()->InputAllocatorProperties();
    ALLOCATOR_PROPERTIES wanted = *pRequest;
    wanted.cBuffers = std::max<LONG>(pRequest->cBuffers, 1);
    wanted.cbBuffer = std::max(pRequest->cbBuffer, input.cbBuffer);
    wanted.cbAlign = std::max(pRequest->cbAlign, input.cbAlign);
    wanted.cbPrefix = std::max(pRequest->cbPrefix, input.cbPrefix);
    ALLOCATOR_PROPERTIES actual = {};
    const HRESULT hr = pAlloc->SetProperties(&wanted, &actual);
    if (FAILED(hr))
        return hr;
    return actual.cbBuffer < wanted.cbBuffer ? E_FAIL : S_OK;
}

HRESULT CVideoProcessorSourcePin::DeliverBeginFlush() {
    DropInput();
    return CBaseOutputPin::DeliverBeginFlush();
}

ComPtr<IMediaSample> CVideoProcessorSourcePin::HeldBuffer() {
    CAutoLock lock(&m_pinLock);
    return m_heldBuffer;
}

HRESULT CVideoProcessorSourcePin::HandOver(IMediaSample* sample) {
    const HRESULT hr = CatchOutOfMemory([&] {
        CAutoLock lock(&m_pinLock);
        if (sample != nullptr && sample == m_heldBuffer.Get())
            m_heldBuffer.Reset();
        m_input.emplace_back(sample);
        return S_OK;
    });
    m_inputEvent.Set();
    return hr;
}

HRESULT CVideoProcessorSourcePin::QueueEndMarker() {
    return HandOver(nullptr);
}

HRESULT CVideoProcessorSourcePin::Command(DWORD command) {
    ++m_commandsComing;
    m_inputEvent.Set();
    const auto hr = HRESULT(CallWorker(command));
    --m_commandsComing;
    return hr;
}

void CVideoProcessorSourcePin::DropInput() {
    ComPtr<IMediaSample> held;
    std::deque<ComPtr<IMediaSample>> input;
    {
        CAutoLock lock(&m_pinLock);
        held = std::move(m_heldBuffer);
        input.swap(m_input);
    }
}

void CVideoProcessorSourcePin::WaitForInput() {
    if (m_commandsComing > 0)
        CheckRequest(nullptr, kCommandWaitMs);
    else
        m_inputEvent.Wait(kInputWaitMs);
}

DWORD CVideoProcessorSourcePin::ThreadProc() {
    DWORD command;
    do {
        command = GetRequest();
        if (command != CMD_INIT)
            Reply(DWORD(E_UNEXPECTED));
    } while (command != CMD_INIT);
    Reply(DWORD(S_OK));

    for (;;) {
        command = GetRequest();
        switch (command) {
        case CMD_PAUSE:
        case CMD_RUN:
            Reply(DWORD(S_OK));
            ProcessingLoop();
            break;
        case CMD_STOP:
            DropInput();
            Reply(DWORD(S_OK));
            break;
        case CMD_EXIT:
            Reply(DWORD(S_OK));
            return 0;
        default:
            Reply(DWORD(E_NOTIMPL));
            break;
        }
    }
}

HRESULT CVideoProcessorSourcePin::ProcessingLoop() {
    CVideoProcessor* const processor = m_filter->Processor();
    for (;;) {
        DWORD command;
        if (CheckRequest(&command, 0)) {
            if (command == CMD_STOP)
                return S_FALSE;
            Reply(DWORD(command == CMD_PAUSE || command == CMD_RUN ? S_OK : E_UNEXPECTED));
            continue;
        }

        ComPtr<IMediaSample> next;
        bool queued = false, held = false;
        {
            CAutoLock lock(&m_pinLock);
            if (!m_input.empty()) {
                next = std::move(m_input.front());
                m_input.pop_front();
                queued = true;
            }
            held = bool(m_heldBuffer);
        }
        if (queued) {
            if (!next) {
                DeliverEndOfStream();
                return S_OK;
            }
            if (Deliver(next.Get()) != S_OK)
                return S_OK;
            continue;
        }
        if (held) {
            WaitForInput();
            continue;
        }

        ComPtr<IMediaSample> buffer;
        const HRESULT hr = GetDeliveryBuffer(buffer.Out(), nullptr, nullptr, 0);
        if (FAILED(hr))
            return hr;
        {
            CAutoLock lock(&m_pinLock);
            m_heldBuffer = std::move(buffer);
        }
        // The caller may be waiting for a buffer to fill.
        processor->SignalProgress();
    }
}

CVideoProcessorSource::CVideoProcessorSource(CVideoProcessor* processor, HRESULT* phr)
    : CBaseFilter(L"SSF Video Processor Source", nullptr, &m_lock, kSourceClsid, phr),
      m_processor(processor) {}

CVideoProcessorSource::~CVideoProcessorSource() = default;

CBasePin* CVideoProcessorSource::GetPin(int n) {
    if (n != 0)
        return nullptr;
    CAutoLock lock(&m_lock);
    if (m_pin == nullptr) {
        HRESULT hr = S_OK;
        std::unique_ptr<CVideoProcessorSourcePin> pin(
            new (std::nothrow) CVideoProcessorSourcePin(this, &m_lock, &hr));
        if (pin != nullptr && SUCCEEDED(hr))
            m_pin = std::move(pin);
    }
    return m_pin.get();
}
