// Drives a CVideoProcessor the way its caller does: fills the source pin's buffers and
// copies frames out, waiting for the processor's progress in between.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "framework/media_sample.h"
#include "videoproc/video_processor.h"

// A caller's sample over its own buffer of size bytes holding text, stamped start..start + 10.
class OutSample {
public:
    explicit OutSample(size_t size = 4096, const std::string& text = "", REFERENCE_TIME start = -1)
        : m_buffer(size), m_sample(new CMediaSample(nullptr, m_buffer.data(), LONG(size))) {
        std::copy(text.begin(), text.end(), m_buffer.begin());
        m_sample->SetActualDataLength(LONG(text.size()));
        REFERENCE_TIME stop = start + 10;
        if (start >= 0)
            m_sample->SetTime(&start, &stop);
    }
    IMediaSample* Get() { return m_sample.Get(); }
    std::vector<BYTE> Data() { return {m_buffer.begin(), End()}; }
    std::string Text() { return {m_buffer.begin(), End()}; }
    // Start and stop time (-1 without them).
    std::pair<REFERENCE_TIME, REFERENCE_TIME> Times() {
        std::pair<REFERENCE_TIME, REFERENCE_TIME> times(-1, -1);
        m_sample->GetTime(&times.first, &times.second);
        return times;
    }

private:
    std::vector<BYTE>::iterator End() { return m_buffer.begin() + m_sample->GetActualDataLength(); }

    std::vector<BYTE> m_buffer;
    ComPtr<IMediaSample> m_sample;
};

// Fills the source pin's next buffer with size bytes stamped start..stop and hands it
// over; E_PENDING when the pin has had no buffer for about tries × 50 ms.
inline HRESULT Feed(CVideoProcessor& processor, const void* data, size_t size, REFERENCE_TIME start,
                    REFERENCE_TIME stop, bool sync = true, int tries = 100) {
    ComPtr<IMediaSample> buffer;
    HRESULT hr = E_PENDING;
    for (int i = 0; hr == E_PENDING && i < tries; ++i)
        if ((hr = processor.GetInputSample(buffer.Out())) == E_PENDING)
            processor.WaitForProgress(50);
    if (FAILED(hr))
        return hr;
    BYTE* target = nullptr;
    buffer->GetPointer(&target);
    std::memcpy(target, data, size);
    buffer->SetActualDataLength(LONG(size));
    buffer->SetTime(&start, &stop);
    buffer->SetSyncPoint(sync ? TRUE : FALSE);
    return processor.DeliverInputSample(buffer.Get());
}

// The next result of GetOutputSample other than E_PENDING, waiting for progress in between.
inline HRESULT Take(CVideoProcessor& processor, OutSample* sample, int tries = 400) {
    HRESULT hr = E_PENDING;
    for (int i = 0; hr == E_PENDING && i < tries; ++i)
        if ((hr = processor.GetOutputSample(sample->Get())) == E_PENDING)
            processor.WaitForProgress(50);
    return hr;
}
