#include "tests/videoproc/filter_harness.h"

#include <cmath>
#include <cstring>
#include <stdexcept>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include "framework/mem_allocator.h"
#include "videoproc/posix/video_picture.h"

namespace {

void Check(bool ok, const char* what) {
    if (!ok)
        throw std::runtime_error(what);
}

// The NAL units of an Annex B byte stream, without their start codes.
std::vector<Bytes> SplitAnnexB(const uint8_t* data, size_t size) {
    std::vector<Bytes> units;
    size_t i = 0, start = SIZE_MAX;
    while (i + 3 <= size) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
            if (start != SIZE_MAX) {
                size_t end = i;
                while (end > start && data[end - 1] == 0)
                    --end;
                units.emplace_back(data + start, data + end);
            }
            i += 3;
            start = i;
        } else {
            ++i;
        }
    }
    if (start != SIZE_MAX && start < size)
        units.emplace_back(data + start, data + size);
    return units;
}

void AppendBE(Bytes* out, uint32_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i)
        out->push_back(uint8_t(value >> (8 * i)));
}

// A smooth picture that moves several pixels per frame, so that neighbours differ.
void Paint(AVFrame* frame, int index) {
    for (int y = 0; y < frame->height; ++y)
        for (int x = 0; x < frame->width; ++x)
            frame->data[0][y * frame->linesize[0] + x] = uint8_t(
                128 + 70 * std::sin((x + 9.0 * index) / 17.0) * std::cos((y - 5.0 * index) / 13.0));
    for (int y = 0; y < frame->height / 2; ++y)
        for (int x = 0; x < frame->width / 2; ++x) {
            frame->data[1][y * frame->linesize[1] + x] =
                uint8_t(128 + 50 * std::sin((x + y + 6.0 * index) / 11.0));
            frame->data[2][y * frame->linesize[2] + x] =
                uint8_t(128 + 50 * std::cos((x - y - 4.0 * index) / 9.0));
        }
}

} // namespace

EncodedStream EncodeTestStream(int width, int height, int frames) {
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    Check(codec != nullptr, "libx264 encoder");
    av_log_set_level(AV_LOG_ERROR);
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    ctx->width = width;
    ctx->height = height;
    ctx->pix_fmt = AV_PIX_FMT_YUV420P;
    ctx->time_base = {1, 25};
    ctx->framerate = {25, 1};
    ctx->gop_size = 12;
    ctx->max_b_frames = 2;
    ctx->thread_count = 1;
    ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    av_opt_set(ctx->priv_data, "preset", "veryfast", 0);
    av_opt_set(ctx->priv_data, "x264-params",
               "keyint=12:min-keyint=12:scenecut=0:bframes=2:b-adapt=0:b-pyramid=none", 0);
    Check(avcodec_open2(ctx, codec, nullptr) == 0, "open libx264");

    EncodedStream stream;
    stream.width = width;
    stream.height = height;
    Bytes sps, pps;
    for (Bytes& unit : SplitAnnexB(ctx->extradata, size_t(ctx->extradata_size))) {
        if ((unit[0] & 0x1f) == 7)
            sps = unit;
        else if ((unit[0] & 0x1f) == 8)
            pps = unit;
    }
    Check(sps.size() > 3 && !pps.empty(), "parameter sets");
    stream.avcC = {1, sps[1], sps[2], sps[3], 0xff, 0xe1};
    AppendBE(&stream.avcC, uint32_t(sps.size()), 2);
    stream.avcC.insert(stream.avcC.end(), sps.begin(), sps.end());
    stream.avcC.push_back(1);
    AppendBE(&stream.avcC, uint32_t(pps.size()), 2);
    stream.avcC.insert(stream.avcC.end(), pps.begin(), pps.end());

    AVFrame* frame = av_frame_alloc();
    frame->width = width;
    frame->height = height;
    frame->format = AV_PIX_FMT_YUV420P;
    Check(av_frame_get_buffer(frame, 0) == 0, "frame buffer");
    AVPacket* packet = av_packet_alloc();
    const auto drain = [&] {
        while (avcodec_receive_packet(ctx, packet) == 0) {
            EncodedSample sample{{}, (packet->flags & AV_PKT_FLAG_KEY) != 0, packet->pts};
            for (Bytes& unit : SplitAnnexB(packet->data, size_t(packet->size))) {
                AppendBE(&sample.data, uint32_t(unit.size()), 4);
                sample.data.insert(sample.data.end(), unit.begin(), unit.end());
            }
            stream.samples.push_back(std::move(sample));
            av_packet_unref(packet);
        }
    };
    for (int i = 0; i < frames; ++i) {
        Check(av_frame_make_writable(frame) == 0, "writable frame");
        Paint(frame, i);
        frame->pts = i;
        Check(avcodec_send_frame(ctx, frame) == 0, "encode");
        drain();
    }
    avcodec_send_frame(ctx, nullptr);
    drain();
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&ctx);
    return stream;
}

std::vector<Bytes> ReferencePictures(const EncodedStream& stream, size_t first, int width,
                                     int height) {
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    ctx->extradata =
        static_cast<uint8_t*>(av_mallocz(stream.avcC.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    std::memcpy(ctx->extradata, stream.avcC.data(), stream.avcC.size());
    ctx->extradata_size = int(stream.avcC.size());
    ctx->thread_count = 1;
    Check(avcodec_open2(ctx, codec, nullptr) == 0, "open reference decoder");
    AVFrame* frame = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    SwsContext* sws = nullptr;
    std::vector<Bytes> pictures;
    const auto receive = [&] {
        while (avcodec_receive_frame(ctx, frame) == 0) {
            sws = sws_getCachedContext(sws, frame->width, frame->height,
                                       AVPixelFormat(frame->format), width, height,
                                       AV_PIX_FMT_YUYV422, SWS_BICUBIC, nullptr, nullptr, nullptr);
            Bytes picture(size_t(width) * height * 2);
            uint8_t* dst[4] = {picture.data()};
            int dstStride[4] = {width * 2};
            sws_scale(sws, frame->data, frame->linesize, 0, frame->height, dst, dstStride);
            pictures.push_back(std::move(picture));
            av_frame_unref(frame);
        }
    };
    for (size_t i = first; i < stream.samples.size(); ++i) {
        const Bytes& data = stream.samples[i].data;
        Check(av_new_packet(packet, int(data.size())) == 0, "packet");
        std::memcpy(packet->data, data.data(), data.size());
        Check(avcodec_send_packet(ctx, packet) == 0, "reference decode");
        av_packet_unref(packet);
        receive();
    }
    avcodec_send_packet(ctx, nullptr);
    receive();
    sws_freeContext(sws);
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&ctx);
    return pictures;
}

double Psnr(const Bytes& a, const Bytes& b) {
    if (a.size() != b.size() || a.empty())
        return 0;
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        const double d = double(a[i]) - double(b[i]);
        sum += d * d;
    }
    if (sum == 0)
        return 99;
    return 10 * std::log10(255.0 * 255.0 / (sum / double(a.size())));
}

CMediaType AvcInputType(const GUID& subtype, const Bytes& avcC, LONG width, LONG height) {
    Bytes box;
    AppendBE(&box, uint32_t(avcC.size() + 8), 4);
    box.insert(box.end(), {'a', 'v', 'c', 'C'});
    box.insert(box.end(), avcC.begin(), avcC.end());
    CMediaType type(&MEDIATYPE_Video);
    type.SetSubtype(&subtype);
    type.SetFormatType(&FORMAT_VideoInfo);
    type.SetVariableSize();
    type.SetTemporalCompression(TRUE);
    BYTE* block = type.AllocFormatBuffer(ULONG(sizeof(VIDEOINFOHEADER) + box.size()));
    std::memset(block, 0, sizeof(VIDEOINFOHEADER));
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(block);
    vih->AvgTimePerFrame = 400000;
    vih->bmiHeader.biSize = DWORD(sizeof(BITMAPINFOHEADER) + box.size());
    vih->bmiHeader.biWidth = width;
    vih->bmiHeader.biHeight = height;
    vih->bmiHeader.biCompression = subtype.Data1;
    std::memcpy(block + sizeof(VIDEOINFOHEADER), box.data(), box.size());
    return type;
}

class CTestSource::CPin : public CBaseOutputPin {
public:
    CPin(CTestSource* filter, CCritSec* lock, const CMediaType& type, LONG bufferSize)
        : CBaseOutputPin(L"Test source pin", filter, lock, nullptr, L"Out"), m_type(type),
          m_bufferSize(bufferSize) {}
    HRESULT CheckMediaType(const CMediaType* pmt) override {
        return *pmt == m_type ? S_OK : S_FALSE;
    }
    HRESULT GetMediaType(int position, CMediaType* type) override {
        return position == 0 ? type->Set(m_type) : VFW_S_NO_MORE_ITEMS;
    }
    HRESULT DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* request) override {
        request->cBuffers = 2;
        request->cbBuffer = m_bufferSize;
        ALLOCATOR_PROPERTIES actual{};
        return alloc->SetProperties(request, &actual);
    }

private:
    const CMediaType m_type;
    const LONG m_bufferSize;
};

CTestSource::CTestSource(const CMediaType& type, LONG bufferSize)
    : CBaseFilter(L"Test source", nullptr, &m_lock, GUID{}),
      m_pin(new CPin(this, &m_lock, type, bufferSize)) {}

CBasePin* CTestSource::GetPin(int n) {
    return n == 0 ? m_pin.get() : nullptr;
}

CBaseOutputPin* CTestSource::Output() {
    return m_pin.get();
}

HRESULT CTestSource::Push(const Bytes& data, REFERENCE_TIME start, REFERENCE_TIME stop, bool sync) {
    ComPtr<IMediaSample> sample;
    HRESULT hr = m_pin->GetDeliveryBuffer(sample.Out(), nullptr, nullptr, 0);
    if (FAILED(hr))
        return hr;
    BYTE* buffer = nullptr;
    sample->GetPointer(&buffer);
    if (LONG(data.size()) > sample->GetSize())
        return VFW_E_BUFFER_OVERFLOW;
    std::memcpy(buffer, data.data(), data.size());
    sample->SetActualDataLength(LONG(data.size()));
    sample->SetTime(&start, &stop);
    sample->SetSyncPoint(sync ? TRUE : FALSE);
    return m_pin->Deliver(sample.Get());
}

class CTestSink::CPin : public CBaseInputPin {
public:
    CPin(CTestSink* filter, CCritSec* lock)
        : CBaseInputPin(L"Test sink pin", filter, lock, nullptr, L"In"), m_sink(filter) {}
    HRESULT CheckMediaType(const CMediaType* pmt) override {
        VideoPicture picture;
        return ReadVideoPicture(*pmt, &picture) ? S_OK : S_FALSE;
    }
    // Like the processor's sink, takes samples while flushing too.
    STDMETHODIMP Receive(IMediaSample* sample) override {
        if (IsStopped())
            return VFW_E_WRONG_STATE;
        ReceivedFrame frame{};
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        frame.data.assign(data, data + sample->GetActualDataLength());
        frame.timeResult = sample->GetTime(&frame.start, &frame.stop);
        frame.sync = sample->IsSyncPoint() == S_OK;
        m_sink->Record("frame", &frame, sample);
        return S_OK;
    }
    STDMETHODIMP EndOfStream() override {
        m_sink->Record("end", nullptr, nullptr);
        return S_OK;
    }
    STDMETHODIMP BeginFlush() override {
        CBaseInputPin::BeginFlush();
        m_sink->Record("begin-flush", nullptr, nullptr);
        m_sink->DropHeld();
        return S_OK;
    }
    STDMETHODIMP EndFlush() override {
        m_sink->Record("end-flush", nullptr, nullptr);
        return CBaseInputPin::EndFlush();
    }
    STDMETHODIMP NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override {
        m_sink->Record("segment", nullptr, nullptr);
        return CBaseInputPin::NewSegment(start, stop, rate);
    }
    HRESULT Inactive() override {
        m_sink->DropHeld();
        return CBaseInputPin::Inactive();
    }

private:
    CTestSink* const m_sink;
};

CTestSink::CTestSink()
    : CBaseFilter(L"Test sink", nullptr, &m_lock, GUID{}), m_pin(new CPin(this, &m_lock)) {}

CTestSink::~CTestSink() = default;

CBasePin* CTestSink::GetPin(int n) {
    return n == 0 ? m_pin.get() : nullptr;
}

void CTestSink::Record(const std::string& event, ReceivedFrame* frame, IMediaSample* held) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_events.push_back(event);
    if (frame != nullptr)
        m_frames.push_back(std::move(*frame));
    if (m_hold && held != nullptr)
        m_held.emplace_back(held);
}

void CTestSink::DropHeld() {
    std::vector<ComPtr<IMediaSample>> held;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        held.swap(m_held);
    }
}

std::vector<std::string> CTestSink::Events() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_events;
}

std::vector<ReceivedFrame> CTestSink::Frames() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_frames;
}

void CTestSink::SetHold(bool hold) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_hold = hold;
}

#if defined(__SANITIZE_THREAD__)
// libavcodec's frame threads hand buffers over through atomics inside the uninstrumented
// FFmpeg libraries, which the race detector cannot see: reports whose stack passes
// through them are not about this code.
extern "C" const char* __tsan_default_suppressions() {
    return "race:libavcodec.so\nrace:libavutil.so\n";
}
#endif
