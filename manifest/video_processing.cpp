// A video stream opened with "auto" quality: its samples go through the video processor,
// which decodes whichever level is current and hands out frames of one type.
#include <new>

#include "framework/media_type.h"
#include "manifest/track.h"
#include "manifest/video_stream.h"

CSSFVideoStream::~CSSFVideoStream() {
    VideoProcessor.reset();
}

HRESULT CSSFVideoStream::ConfigureVideoProcessor() {
    if (!VideoProcessor || CurrentTrack == nullptr)
        return S_OK;
    CMediaType input;
    HRESULT hr = CurrentTrack->GetMediaType(0, &input);
    if (hr != S_OK)
        return FAILED(hr) ? hr : E_FAIL;
    ALLOCATOR_PROPERTIES properties = {};
    hr = CurrentTrack->DecideBufferSize(nullptr, &properties);
    if (FAILED(hr))
        return hr;
    CMediaType output;
    hr = GetProcessedMediaType(0, &output);
    if (hr != S_OK)
        return FAILED(hr) ? hr : E_FAIL;
    hr = VideoProcessor->SetInputType(&input, &properties);
    return FAILED(hr) ? hr : VideoProcessor->SetOutputType(&output);
}

HRESULT CSSFVideoStream::FillSample(IMediaSample* sample) {
    return VideoProcessor ? FillProcessedSample(sample) : FillPlainSample(sample);
}

HRESULT CSSFVideoStream::SwitchTrack(CSSFTrack* track) {
    return VideoProcessor ? SwitchTrackProcessed(track) : E_FAIL;
}

// Called from FillPlainSample, with the lock held.
HRESULT CSSFVideoStream::SwitchTrackProcessed(CSSFTrack* track) {
    CurrentTrack = track;
    CMediaType type;
    HRESULT hr = track->GetMediaType(0, &type);
    if (FAILED(hr))
        return hr;
    ALLOCATOR_PROPERTIES properties = {};
    hr = track->DecideBufferSize(nullptr, &properties);
    if (FAILED(hr))
        return hr;
    hr = VideoProcessor->SetInputType(&type, &properties);
    return FAILED(hr) ? hr : E_PENDING;
}

HRESULT CSSFVideoStream::FillProcessedSample(IMediaSample* sample) {
    CVideoProcessor& processor = *VideoProcessor;
    m_bWaitOnProcessor = false;
    LONG state = CVideoProcessor::Stopped;
    HRESULT hr = processor.GetState(&state);
    if (FAILED(hr))
        return hr;
    for (;;) {
        hr = processor.GetOutputSample(sample);
        if (hr != E_PENDING)
            return hr;
        // A graph that drains or rebuilds takes no input; its frames are on their way.
        if (state == CVideoProcessor::InputEnded || state == CVideoProcessor::TypeChangePending) {
            m_bWaitOnProcessor = true;
            return E_PENDING;
        }
        ComPtr<IMediaSample> buffer;
        hr = processor.GetInputSample(buffer.Out());
        if (FAILED(hr)) {
            m_bWaitOnProcessor = hr == E_PENDING;
            return hr;
        }
        hr = FillPlainSample(buffer.Get());
        if (FAILED(hr))
            return hr;
        if (hr == S_FALSE) {
            hr = processor.EndOfInput();
        } else {
            REFERENCE_TIME start = 0, stop = 0;
            if (buffer->GetTime(&start, &stop) == S_OK)
                RecordLevel(start);
            hr = processor.DeliverInputSample(buffer.Get());
        }
        if (FAILED(hr))
            return hr;
        buffer.Reset();
        hr = processor.GetState(&state);
        if (FAILED(hr))
            return hr;
    }
}

bool CSSFVideoStream::WaitForProgress(DWORD timeoutMs) {
    if (VideoProcessor && m_bWaitOnProcessor)
        return VideoProcessor->WaitForProgress(timeoutMs) != FALSE;
    return WaitForDownload(timeoutMs);
}

HRESULT CSSFVideoStream::OnActive() {
    return VideoProcessor ? VideoProcessor->Start() : S_OK;
}

HRESULT CSSFVideoStream::OnInactive() {
    return VideoProcessor ? VideoProcessor->Stop() : S_OK;
}

HRESULT CSSFVideoStream::OnFlush() {
    return VideoProcessor ? VideoProcessor->Flush() : S_OK;
}

HRESULT CSSFVideoStream::OnNewSegment(REFERENCE_TIME rtStart, REFERENCE_TIME rtStop, double dRate) {
    return VideoProcessor ? VideoProcessor->SetSegment(rtStart, rtStop, dRate) : S_OK;
}

void CSSFVideoStream::RecordLevel(REFERENCE_TIME start) {
    CAutoLock lock(&m_lock);
    if (CurrentTrack == nullptr)
        return;
    // After a seek back the later history no longer holds.
    while (!m_levels.empty() && m_levels.back().Start >= start)
        m_levels.pop_back();
    const uint32_t bitrate = CurrentTrack->GetBitrate();
    if (!m_levels.empty() && m_levels.back().Bitrate == bitrate)
        return;
    try {
        m_levels.push_back(LevelStart{start, bitrate});
    } catch (const std::bad_alloc&) {
        return; // the history is diagnostic only
    }
    if (m_levels.size() > kLevelHistory)
        m_levels.pop_front();
}

uint32_t CSSFVideoStream::LevelAt(REFERENCE_TIME time) {
    CAutoLock lock(&m_lock);
    uint32_t bitrate = m_levels.empty() ? 0 : m_levels.front().Bitrate;
    for (const LevelStart& level : m_levels)
        if (level.Start <= time)
            bitrate = level.Bitrate;
    return bitrate;
}
