#include "tools/common/play_sink.h"

#include <algorithm>

#include "tools/common/sample_log.h"
#include "tools/common/stream_recorder.h"

bool CPlayProgress::Report(REFERENCE_TIME rtPosition) {
    REFERENCE_TIME furthest = m_furthest.load();
    while (rtPosition > furthest && !m_furthest.compare_exchange_weak(furthest, rtPosition)) {
    }
    REFERENCE_TIME armed = m_armed.load();
    // Only the sink that crosses the armed position reports it.
    return armed >= 0 && rtPosition >= armed && m_armed.compare_exchange_strong(armed, -1);
}

CPlaySinkPin::CPlaySinkPin(CPlaySink* pFilter, HRESULT* phr)
    : CBaseInputPin(L"play sink input", pFilter, &pFilter->m_lock, phr, L"input"),
      m_pSink(pFilter) {}

HRESULT CPlaySinkPin::CheckMediaType(const CMediaType*) {
    return S_OK;
}

HRESULT CPlaySinkPin::Active() {
    m_interrupt.Reset();
    return CBaseInputPin::Active();
}

HRESULT CPlaySinkPin::Inactive() {
    m_interrupt.Set();
    return CBaseInputPin::Inactive();
}

void CPlaySinkPin::WaitForPresentationTime(REFERENCE_TIME rtStart) {
    const ComPtr<IReferenceClock> clock = m_pSink->ReferenceClock();
    if (!clock)
        return;
    REFERENCE_TIME now = 0;
    if (SUCCEEDED(clock->GetTime(&now))) {
        const REFERENCE_TIME due = m_pSink->StreamStart() + rtStart;
        if (due > now)
            m_interrupt.Wait(DWORD(std::min<REFERENCE_TIME>((due - now) / 10000, 60000)));
    }
}

STDMETHODIMP CPlaySinkPin::Receive(IMediaSample* pSample) {
    CAutoLock lock(&m_receiveLock);
    HRESULT hr = CBaseInputPin::Receive(pSample);
    if (hr != S_OK)
        return hr;
    ReceivedSample sample(pSample);
    if (m_pSink->LevelOf && sample.HasStart)
        sample.Level = m_pSink->LevelOf(m_rtSegmentStart + sample.Start);
    if (m_pSink->Log != nullptr)
        m_pSink->Log->Sample(m_pSink->Pin, sample);
    if (sample.HasStart)
        WaitForPresentationTime(sample.Start);

    const int stream = RecorderStream;
    if (m_pSink->Recorder != nullptr && stream >= 0 && sample.HasStart) {
        // After a seek the file's time line goes on where it was.
        if (m_bRecordRebase) {
            m_rtRecordOffset = m_rtRecordEnd - sample.Start;
            m_bRecordRebase = false;
        }
        const REFERENCE_TIME recordStart = sample.Start + m_rtRecordOffset;
        const REFERENCE_TIME recordStop =
            (sample.HasStop ? sample.Stop : sample.Start) + m_rtRecordOffset;
        m_pSink->Recorder->Write(stream, sample.Data, sample.Size, recordStart, recordStop,
                                 sample.Sync);
        m_rtRecordEnd = std::max(m_rtRecordEnd, recordStop);
    }
    if (sample.HasStop && m_pSink->Progress != nullptr &&
        m_pSink->Progress->Report(m_rtSegmentStart + sample.Stop))
        m_pSink->NotifyEvent(EC_KVSSF_POSITION_REACHED, 0, 0);
    ++m_pSink->SamplesReceived;
    return S_OK;
}

STDMETHODIMP CPlaySinkPin::EndOfStream() {
    if (m_pSink->Log != nullptr)
        m_pSink->Log->Event(m_pSink->Pin, "eos");
    m_pSink->ReportEndOfStream();
    return S_OK;
}

STDMETHODIMP CPlaySinkPin::BeginFlush() {
    // Ends a wait for a sample's time, then waits for that sample to finish.
    m_interrupt.Set();
    m_pSink->CancelEndOfStream();
    CAutoLock lock(&m_receiveLock);
    if (m_pSink->Log != nullptr)
        m_pSink->Log->Event(m_pSink->Pin, "beginflush");
    return CBaseInputPin::BeginFlush();
}

STDMETHODIMP CPlaySinkPin::EndFlush() {
    if (m_pSink->Log != nullptr)
        m_pSink->Log->Event(m_pSink->Pin, "endflush");
    m_interrupt.Reset();
    return CBaseInputPin::EndFlush();
}

STDMETHODIMP CPlaySinkPin::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) {
    if (m_pSink->Log != nullptr)
        m_pSink->Log->NewSegment(m_pSink->Pin, tStart, tStop, dRate);
    m_rtSegmentStart = tStart;
    m_bRecordRebase = m_rtRecordEnd > 0;
    return CBaseInputPin::NewSegment(tStart, tStop, dRate);
}

CPlaySink::CPlaySink(int pin, CSampleLog* log, IStreamRecorder* recorder, CPlayProgress* progress,
                     HRESULT* phr)
    : CBaseFilter(L"play sink", nullptr, &m_lock, GUID_NULL, phr), Pin(pin), Log(log),
      Recorder(recorder), Progress(progress), m_pPin(new CPlaySinkPin(this, phr)) {}

CPlaySink::~CPlaySink() {
    delete m_pPin;
}

STDMETHODIMP CPlaySink::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (riid == IID_IAMFilterMiscFlags)
        return GetInterface(static_cast<IAMFilterMiscFlags*>(this), ppv);
    return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP_(ULONG) CPlaySink::GetMiscFlags() {
    return AM_FILTER_MISC_FLAGS_IS_RENDERER;
}

void CPlaySink::ReportEndOfStream() {
    CAutoLock lock(&m_lock);
    if (m_State == State_Running)
        NotifyEvent(EC_COMPLETE, S_OK, 0);
    else
        m_bEndOfStreamPending = true;
}

void CPlaySink::CancelEndOfStream() {
    CAutoLock lock(&m_lock);
    m_bEndOfStreamPending = false;
}

STDMETHODIMP CPlaySink::Run(REFERENCE_TIME tStart) {
    CAutoLock lock(&m_lock);
    const HRESULT hr = CBaseFilter::Run(tStart);
    if (SUCCEEDED(hr) && m_bEndOfStreamPending) {
        m_bEndOfStreamPending = false;
        NotifyEvent(EC_COMPLETE, S_OK, 0);
    }
    return hr;
}

STDMETHODIMP CPlaySink::Stop() {
    CancelEndOfStream();
    return CBaseFilter::Stop();
}

CBasePin* CPlaySink::GetPin(int n) {
    return n == 0 ? m_pPin : nullptr;
}

REFERENCE_TIME CPlaySink::StreamStart() {
    CAutoLock lock(&m_lock);
    return m_tStart;
}

ComPtr<IReferenceClock> CPlaySink::ReferenceClock() {
    CAutoLock lock(&m_lock);
    return m_pClock;
}
