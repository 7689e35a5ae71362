#include "framework/output_pin.h"

#include <new>

#include "framework/mem_allocator.h"

CBaseOutputPin::CBaseOutputPin(LPCWSTR pObjectName, CBaseFilter* pFilter, CCritSec* pLock,
                               HRESULT* phr, LPCWSTR pName)
    : CBasePin(pObjectName, pFilter, pLock, phr, pName, PINDIR_OUTPUT) {}

CBaseOutputPin::~CBaseOutputPin() {
    CBaseOutputPin::BreakConnect();
}

HRESULT CBaseOutputPin::CheckConnect(IPin* pPin) {
    HRESULT hr = CBasePin::CheckConnect(pPin);
    if (FAILED(hr))
        return hr;
    ComPtr<IMemInputPin> input;
    hr = pPin->QueryInterface(IID_IMemInputPin, input.OutVoid());
    if (FAILED(hr) || !input)
        return VFW_E_NO_TRANSPORT;
    m_pInputPin = std::move(input);
    return S_OK;
}

HRESULT CBaseOutputPin::BreakConnect() {
    if (m_pAllocator) {
        m_pAllocator->Decommit();
        m_pAllocator.Reset();
    }
    m_pInputPin.Reset();
    return S_OK;
}

HRESULT CBaseOutputPin::CompleteConnect(IPin*) {
    if (!m_pInputPin)
        return VFW_E_NO_TRANSPORT;
    return DecideAllocator(m_pInputPin.Get(), m_pAllocator.Out());
}

HRESULT CBaseOutputPin::DecideAllocator(IMemInputPin* pPin, IMemAllocator** ppAlloc) {
    *ppAlloc = nullptr;
    ALLOCATOR_PROPERTIES props{0, 0, 0, 0};
    pPin->GetAllocatorRequirements(&props); // E_NOTIMPL leaves the zeros
    if (props.cbAlign == 0)
        props.cbAlign = 1;

    // Sizes the allocator and hands it to the input pin.
    const auto offer = [&](IMemAllocator* allocator) {
        const HRESULT hr = DecideBufferSize(allocator, &props);
        return SUCCEEDED(hr) ? pPin->NotifyAllocator(allocator, FALSE) : hr;
    };
    // The input pin's allocator first, then one of our own.
    ComPtr<IMemAllocator> allocator;
    HRESULT hr = pPin->GetAllocator(allocator.Out());
    if (SUCCEEDED(hr) && allocator)
        hr = offer(allocator.Get());
    if (FAILED(hr) || !allocator) {
        hr = InitAllocator(allocator.Out());
        if (SUCCEEDED(hr))
            hr = offer(allocator.Get());
    }
    if (FAILED(hr))
        return hr;
    *ppAlloc = allocator.Detach();
    return S_OK;
}

HRESULT CBaseOutputPin::InitAllocator(IMemAllocator** ppAlloc) {
    HRESULT hr = S_OK;
    ComPtr<CMemAllocator> allocator(new (std::nothrow) CMemAllocator(&hr));
    if (!allocator)
        return E_OUTOFMEMORY;
    if (FAILED(hr))
        return hr;
    *ppAlloc = allocator.Detach();
    return S_OK;
}

HRESULT CBaseOutputPin::GetDeliveryBuffer(IMediaSample** ppSample, REFERENCE_TIME* pStartTime,
                                          REFERENCE_TIME* pEndTime, DWORD dwFlags) {
    if (m_pAllocator == nullptr)
        return E_NOINTERFACE;
    return m_pAllocator->GetBuffer(ppSample, pStartTime, pEndTime, dwFlags);
}

HRESULT CBaseOutputPin::Deliver(IMediaSample* pSample) {
    if (m_pInputPin == nullptr)
        return VFW_E_NOT_CONNECTED;
    return m_pInputPin->Receive(pSample);
}

HRESULT CBaseOutputPin::DeliverEndOfStream() {
    if (m_Connected == nullptr)
        return VFW_E_NOT_CONNECTED;
    return m_Connected->EndOfStream();
}

HRESULT CBaseOutputPin::DeliverBeginFlush() {
    if (m_Connected == nullptr)
        return VFW_E_NOT_CONNECTED;
    return m_Connected->BeginFlush();
}

HRESULT CBaseOutputPin::DeliverEndFlush() {
    if (m_Connected == nullptr)
        return VFW_E_NOT_CONNECTED;
    return m_Connected->EndFlush();
}

HRESULT CBaseOutputPin::DeliverNewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop,
                                          double dRate) {
    if (m_Connected == nullptr)
        return VFW_E_NOT_CONNECTED;
    return m_Connected->NewSegment(tStart, tStop, dRate);
}

HRESULT CBaseOutputPin::Active() {
    if (m_pAllocator == nullptr)
        return VFW_E_NO_ALLOCATOR;
    return m_pAllocator->Commit();
}

HRESULT CBaseOutputPin::Inactive() {
    m_bRunTimeError = false;
    if (m_pAllocator == nullptr)
        return VFW_E_NO_ALLOCATOR;
    return m_pAllocator->Decommit();
}

STDMETHODIMP CBaseOutputPin::EndOfStream() {
    return E_UNEXPECTED;
}

STDMETHODIMP CBaseOutputPin::BeginFlush() {
    return E_UNEXPECTED;
}

STDMETHODIMP CBaseOutputPin::EndFlush() {
    return E_UNEXPECTED;
}
