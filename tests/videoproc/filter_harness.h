// Test harness for the POSIX processor filters: an H.264 stream encoded in-process with
// B-frames, its reference pictures, a source filter pushed by the test and a sink filter
// that records what reaches it.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "framework/base_filter.h"
#include "framework/input_pin.h"
#include "framework/output_pin.h"

using Bytes = std::vector<uint8_t>;

struct EncodedSample {
    Bytes data; // length-prefixed NAL units (4-byte lengths)
    bool sync;
    int64_t displayIndex;
};

// frames pictures of width × height encoded by libx264 (B-frames, an IDR every 12),
// in decode order, with the avcC record.
struct EncodedStream {
    int width = 0;
    int height = 0;
    Bytes avcC; // the record, without the box header
    std::vector<EncodedSample> samples;
};
EncodedStream EncodeTestStream(int width, int height, int frames);

// The stream decoded on its own by libavcodec, from sample first on, in display order,
// each picture scaled bicubically to YUY2 at width × height.
std::vector<Bytes> ReferencePictures(const EncodedStream& stream, size_t first, int width,
                                     int height);

// Peak signal-to-noise ratio of two byte pictures of equal length, in dB (99 when equal).
double Psnr(const Bytes& a, const Bytes& b);

// An H.264 input type: FORMAT_VideoInfo with the whole avcC box after the header.
CMediaType AvcInputType(const GUID& subtype, const Bytes& avcC, LONG width, LONG height);

class CTestSource : public CBaseFilter {
public:
    CTestSource(const CMediaType& type, LONG bufferSize);
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override;
    // Delivers one sample on the calling thread: Deliver's result.
    HRESULT Push(const Bytes& data, REFERENCE_TIME start, REFERENCE_TIME stop, bool sync);
    CBaseOutputPin* Output();

private:
    class CPin;
    CCritSec m_lock;
    std::unique_ptr<CPin> m_pin;
};

struct ReceivedFrame {
    Bytes data;
    HRESULT timeResult;
    REFERENCE_TIME start;
    REFERENCE_TIME stop;
    bool sync;
};

class CTestSink : public CBaseFilter {
public:
    CTestSink();
    ~CTestSink() override;
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override;

    // "frame", "end", "begin-flush", "end-flush", "segment", in arrival order.
    std::vector<std::string> Events();
    std::vector<ReceivedFrame> Frames();
    // While holding, every sample received stays referenced until Stop or a flush.
    void SetHold(bool hold);

private:
    class CPin;
    friend class CPin;
    void Record(const std::string& event, ReceivedFrame* frame, IMediaSample* held);
    void DropHeld();

    CCritSec m_lock;
    std::unique_ptr<CPin> m_pin;
    std::mutex m_mutex;
    bool m_hold = false;
    std::vector<std::string> m_events;
    std::vector<ReceivedFrame> m_frames;
    std::vector<ComPtr<IMediaSample>> m_held;
};
