#include "tools/dshow-host/grabber_callback.h"

#include "tools/common/sample_log.h"

CGrabberCallback::CGrabberCallback(int pin, CSampleLog* log) : Pin(pin), m_pLog(log) {}

STDMETHODIMP CGrabberCallback::QueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr)
        return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_ISampleGrabberCB) {
        *ppv = static_cast<ISampleGrabberCB*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CGrabberCallback::AddRef() {
    return ++m_cRef;
}

STDMETHODIMP_(ULONG) CGrabberCallback::Release() {
    const ULONG count = --m_cRef;
    if (count == 0)
        delete this;
    return count;
}

STDMETHODIMP CGrabberCallback::SampleCB(double, IMediaSample* pSample) {
    if (pSample == nullptr)
        return E_POINTER;
    if (m_pLog != nullptr)
        m_pLog->Sample(Pin, ReceivedSample(pSample));
    ++SamplesReceived;
    return S_OK;
}

STDMETHODIMP CGrabberCallback::BufferCB(double, BYTE*, LONG) {
    return E_NOTIMPL;
}
