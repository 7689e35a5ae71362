// CSSFStream's record of its latest failed fill, for hosts and the trace.
#include <new>

#include "manifest/failure_trace.h"
#include "manifest/stream.h"

HRESULT CSSFStream::FillSample(IMediaSample* sample) {
    CAutoLock lock(&m_lock);
    const HRESULT hr = FillSampleLocked(sample);
    if (FAILED(hr) && hr != E_PENDING)
        RecordFailureLocked(hr);
    return hr;
}

void CSSFStream::RecordFailureLocked(HRESULT hr) {
    m_lastFailure.Result = hr;
    m_lastFailure.ChunkIndex = m_chunkIndex;
    m_lastFailure.Bitrate = 0;
    m_lastFailure.Status = 0;
    m_lastFailure.Url.clear();
    const FragmentSlot* slot = SlotLocked(m_chunkIndex);
    if (slot == nullptr || !slot->Fragment)
        return;
    CSSFAsyncFragment* fragment = slot->Fragment.Get();
    if (slot->Track != nullptr)
        m_lastFailure.Bitrate = slot->Track->GetBitrate();
    // The download's record is the worker's until its result is out.
    if (fragment->Wait(0) != E_PENDING) {
        const HttpFailure& download = fragment->HttpFile.GetFailure();
        if (FAILED(download.Result))
            m_lastFailure.Status = download.Status;
    }
    try {
        m_lastFailure.Url = fragment->Url;
        TraceDownloadFailure("stream \"" + Name + "\" level " +
                                 std::to_string(m_lastFailure.Bitrate) + " bit/s chunk " +
                                 std::to_string(m_chunkIndex),
                             hr, m_lastFailure.Status, m_lastFailure.Url);
    } catch (const std::bad_alloc&) {
        // The report is best effort; the fill's error stands.
    }
}

bool CSSFStream::GetLastFailure(SSFStreamFailure* failure) {
    CAutoLock lock(&m_lock);
    try {
        *failure = m_lastFailure;
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}
