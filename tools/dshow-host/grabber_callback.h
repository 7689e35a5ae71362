// CGrabberCallback: the ISampleGrabberCB of one Sample Grabber, writing every sample the
// grabber passes into the sample log as a sink would (sample lines only: the grabber
// does not pass on segments, flushes or end of stream).
#pragma once

#include <atomic>

#include "framework/unknown.h"

#include <qedit.h>

class CSampleLog;

class CGrabberCallback final : public CUnknown, public ISampleGrabberCB {
public:
    // pin: the number of the source pin in the log; log may be null and must outlive
    // the callback. The count starts at 0, as for every CUnknown.
    CGrabberCallback(int pin, CSampleLog* log);

    DECLARE_IUNKNOWN
    // ISampleGrabberCB, then CUnknown's.
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // On the grabber's streaming thread, once per sample.
    STDMETHODIMP SampleCB(double SampleTime, IMediaSample* pSample) override;
    // Not asked for (SetCallback with 0): E_NOTIMPL.
    STDMETHODIMP BufferCB(double SampleTime, BYTE* pBuffer, LONG BufferLen) override;

    const int Pin;
    std::atomic<long> SamplesReceived{0};

private:
    CSampleLog* const m_pLog;
};
