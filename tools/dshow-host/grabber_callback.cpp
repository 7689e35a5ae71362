#include "tools/dshow-host/grabber_callback.h"

#include "tools/common/sample_log.h"

CGrabberCallback::CGrabberCallback(int pin, CSampleLog* log)
    : CUnknown(L"grabber callback", nullptr), Pin(pin), m_pLog(log) {}

STDMETHODIMP CGrabberCallback::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (riid == IID_ISampleGrabberCB)
        return GetInterface(static_cast<ISampleGrabberCB*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
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
