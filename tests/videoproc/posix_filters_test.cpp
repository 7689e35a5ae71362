// The POSIX decoder, colour converter and resizer in the video processor's graph, fed an
// H.264 stream libx264 encodes in-process and checked against libavcodec and libswscale.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include "framework/platform/graph_classes.h"
#include "tests/videoproc/avc_units.h"
#include "tests/videoproc/fake_transform.h"
#include "tests/videoproc/processor_driver.h"
#include "videoproc/posix/processor_classes.h"
#include "videoproc/posix/video_picture.h"
#include "videoproc/processor_filters.h"

namespace {

using avc::Bytes;
using avc::SplitAnnexB;
using fakes::Settings;

constexpr GUID kAvc1Iso = {
    0x31637661, 0x5349, 0x4D4F, {0x45, 0x44, 0x49, 0x41, 0x54, 0x59, 0x50, 0x45}};
const GUID kAvc1 = FourCCSubtype(MakeFourCC('A', 'V', 'C', '1'));
const GUID kI420 = FourCCSubtype(MakeFourCC('I', '4', '2', '0'));
constexpr REFERENCE_TIME kFrame = 400000;
constexpr REFERENCE_TIME kBase = 10000000;
constexpr int kWidth = 320, kHeight = 180;
constexpr ALLOCATOR_PROPERTIES kInputBuffers = {1, 1 << 17, 1, 0};

void Check(bool ok, const char* what) {
    if (!ok)
        throw std::runtime_error(what);
}

struct EncodedStream {
    Bytes avcC;                 // the record, without the box header
    std::vector<Bytes> samples; // decode order, NAL units with 4-byte lengths
    std::vector<bool> sync;
    bool reordered = false; // B-frames make the display order differ
};

// 36 smooth moving pictures at kWidth × kHeight: B-frames, an IDR every 12.
EncodedStream Encode() {
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    Check(codec != nullptr, "libx264 encoder");
    av_log_set_level(AV_LOG_ERROR);
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    ctx->width = kWidth;
    ctx->height = kHeight;
    ctx->pix_fmt = AV_PIX_FMT_YUV420P;
    ctx->time_base = {1, 25};
    ctx->thread_count = 1;
    ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    av_opt_set(ctx->priv_data, "preset", "veryfast", 0);
    av_opt_set(ctx->priv_data, "x264-params",
               "keyint=12:min-keyint=12:scenecut=0:bframes=2:b-adapt=0:b-pyramid=none", 0);
    Check(avcodec_open2(ctx, codec, nullptr) == 0, "open libx264");
    EncodedStream stream;
    Bytes sps, pps;
    for (Bytes& unit : SplitAnnexB(ctx->extradata, size_t(ctx->extradata_size)))
        ((unit[0] & 0x1f) == 7 ? sps : pps) = unit;
    stream.avcC = avc::Record(sps, pps);

    AVFrame* frame = av_frame_alloc();
    frame->width = kWidth;
    frame->height = kHeight;
    frame->format = AV_PIX_FMT_YUV420P;
    Check(av_frame_get_buffer(frame, 0) == 0, "frame buffer");
    AVPacket* packet = av_packet_alloc();
    const auto drain = [&] {
        while (avcodec_receive_packet(ctx, packet) == 0) {
            stream.reordered |= packet->pts != int64_t(stream.samples.size());
            stream.sync.push_back((packet->flags & AV_PKT_FLAG_KEY) != 0);
            Bytes sample;
            for (Bytes& unit : SplitAnnexB(packet->data, size_t(packet->size)))
                avc::AppendUnit(&sample, unit);
            stream.samples.push_back(std::move(sample));
            av_packet_unref(packet);
        }
    };
    for (int n = 0; n <= 36; ++n) {
        if (n == 36) {
            avcodec_send_frame(ctx, nullptr);
        } else {
            Check(av_frame_make_writable(frame) == 0, "writable frame");
            for (int y = 0; y < kHeight; ++y)
                for (int x = 0; x < kWidth; ++x)
                    frame->data[0][y * frame->linesize[0] + x] = uint8_t(
                        128 + 70 * std::sin((x + 9.0 * n) / 17.0) * std::cos((y - 5.0 * n) / 13.0));
            for (int y = 0; y < kHeight / 2; ++y)
                for (int x = 0; x < kWidth / 2; ++x) {
                    frame->data[1][y * frame->linesize[1] + x] =
                        uint8_t(128 + 50 * std::sin((x + y + 6.0 * n) / 11.0));
                    frame->data[2][y * frame->linesize[2] + x] =
                        uint8_t(128 + 50 * std::cos((x - y - 4.0 * n) / 9.0));
                }
            frame->pts = n;
            Check(avcodec_send_frame(ctx, frame) == 0, "encode");
        }
        drain();
    }
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&ctx);
    return stream;
}

const EncodedStream& Stream() {
    static const EncodedStream stream = Encode();
    return stream;
}

// The stream decoded on its own from sample first on, in display order, each picture
// scaled bicubically to YUY2 at width × height.
std::vector<Bytes> ReferencePictures(size_t first, int width, int height) {
    const EncodedStream& stream = Stream();
    AVCodecContext* ctx = avcodec_alloc_context3(avcodec_find_decoder(AV_CODEC_ID_H264));
    ctx->extradata =
        static_cast<uint8_t*>(av_mallocz(stream.avcC.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    std::memcpy(ctx->extradata, stream.avcC.data(), stream.avcC.size());
    ctx->extradata_size = int(stream.avcC.size());
    ctx->thread_count = 1;
    Check(avcodec_open2(ctx, ctx->codec, nullptr) == 0, "open reference decoder");
    AVFrame* frame = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    SwsContext* sws = nullptr;
    std::vector<Bytes> pictures;
    for (size_t i = first; i <= stream.samples.size(); ++i) {
        if (i < stream.samples.size()) {
            Check(av_new_packet(packet, int(stream.samples[i].size())) == 0, "packet");
            std::memcpy(packet->data, stream.samples[i].data(), stream.samples[i].size());
            Check(avcodec_send_packet(ctx, packet) == 0, "reference decode");
            av_packet_unref(packet);
        } else {
            avcodec_send_packet(ctx, nullptr);
        }
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
    }
    sws_freeContext(sws);
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&ctx);
    return pictures;
}

// Peak signal-to-noise ratio of two byte pictures of equal length, in dB (99 when equal).
double Psnr(const Bytes& a, const Bytes& b) {
    if (a.size() != b.size() || a.empty())
        return 0;
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i)
        sum += (double(a[i]) - double(b[i])) * (double(a[i]) - double(b[i]));
    return sum == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / (sum / double(a.size())));
}

// An H.264 input type: FORMAT_VideoInfo with the whole avcC box after the header.
CMediaType AvcInputType(const GUID& subtype, LONG width = kWidth, LONG height = kHeight) {
    return avc::InputType(Stream().avcC, subtype, width, height, kFrame);
}

CMediaType Picture(const GUID& subtype, LONG width, LONG height) {
    CMediaType type;
    EXPECT_EQ(MakeVideoType(subtype, width, height, kFrame, false, &type), S_OK);
    return type;
}

REFERENCE_TIME StartOf(size_t sample) {
    return kBase + REFERENCE_TIME(sample) * kFrame;
}

// The decode-order index of the n-th IDR sample (n from 0).
size_t KeySample(int n) {
    const std::vector<bool>& sync = Stream().sync;
    for (size_t i = 0; i < sync.size(); ++i)
        if (sync[i] && n-- == 0)
            return i;
    return sync.size();
}

struct Frame {
    Bytes data;
    REFERENCE_TIME start, stop;
    bool sync;
};

// The FFmpeg-backed filters under the display names; each test binds its stand-ins.
class PosixProcessor : public testing::Test {
protected:
    void SetUp() override {
        RegisterGraphClasses();
        ASSERT_EQ(RegisterProcessorFilters(), S_OK);
        fakes::ResetFakes();
    }
    HRESULT Start(const CMediaType& input, const CMediaType& output) {
        EXPECT_EQ(m_processor.SetInputType(&input, &kInputBuffers), S_OK);
        EXPECT_EQ(m_processor.SetOutputType(&output), S_OK);
        return m_processor.Start();
    }
    HRESULT FeedSample(size_t i, int tries) {
        const Bytes& sample = Stream().samples[i];
        return Feed(m_processor, sample.data(), sample.size(), StartOf(i), StartOf(i) + kFrame,
                    Stream().sync[i], tries);
    }
    // Feeds samples [first, last) and the end, copying frames out as they come: the
    // frames up to the end of the output.
    std::vector<Frame> Run(size_t first, size_t last) {
        std::vector<Frame> frames;
        OutSample out(1 << 18);
        bool ended = false;
        for (int idle = 0; idle < 500; ++idle) {
            if (first < last && FeedSample(first, 1) == S_OK) {
                ++first;
                idle = -1;
                continue;
            }
            if (first == last && !ended)
                ended = m_processor.EndOfInput() == S_OK;
            const HRESULT hr = m_processor.GetOutputSample(out.Get());
            if (hr == S_OK) {
                frames.push_back({out.Data(), out.Start(), 0, out.Get()->IsSyncPoint() == S_OK});
                out.Start(&frames.back().stop);
                idle = -1;
            } else if (hr != E_PENDING) {
                EXPECT_EQ(hr, S_FALSE);
                return frames;
            }
            m_processor.WaitForProgress(20);
        }
        ADD_FAILURE() << "no progress after " << frames.size() << " frames";
        return frames;
    }
    // Feeds samples from the first until the upstream thread waits for a buffer: how many.
    size_t FeedUntilBlocked() {
        size_t fed = 0;
        while (fed < Stream().samples.size() && FeedSample(fed, 20) == S_OK)
            ++fed;
        return fed;
    }

    CVideoProcessor m_processor;
};

// Every picture of the stream from sample first on, at width × height, in display order
// with the input times in order.
void ExpectFrames(const std::vector<Frame>& frames, size_t first, int width, int height) {
    const std::vector<Bytes> reference = ReferencePictures(first, width, height);
    ASSERT_EQ(reference.size(), Stream().samples.size() - first);
    ASSERT_EQ(frames.size(), reference.size());
    for (size_t i = 0; i < frames.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(frames[i].start, StartOf(first + i));
        EXPECT_EQ(frames[i].stop, StartOf(first + i) + kFrame);
        EXPECT_TRUE(frames[i].sync);
        ASSERT_EQ(frames[i].data.size(), size_t(width) * height * 2);
        EXPECT_GE(Psnr(frames[i].data, reference[i]), 35.0);
    }
}

// AVC1 announcing a larger picture than it codes, down-scaled.
TEST_F(PosixProcessor, DecodesAndScalesEveryPictureInDisplayOrder) {
    ASSERT_TRUE(Stream().reordered);
    ASSERT_EQ(Start(AvcInputType(kAvc1, 352, 198), Picture(MEDIASUBTYPE_YUY2, 160, 90)), S_OK);
    ExpectFrames(Run(0, Stream().samples.size()), 0, 160, 90);
}

// A stand-in resizer that holds the converter's buffers blocks the upstream thread.
TEST_F(PosixProcessor, FlushAndStopReleaseAStreamBlockedOnAFullResizerAndForgetIt) {
    fakes::BindFake(fakes::Resizer);
    Settings(fakes::Resizer).Hold = true;
    ASSERT_EQ(Start(AvcInputType(kAvc1Iso), Picture(MEDIASUBTYPE_YUY2, kWidth, kHeight)), S_OK);
    const size_t total = Stream().samples.size();
    EXPECT_LT(FeedUntilBlocked(), total);
    EXPECT_EQ(m_processor.Flush(), S_OK);
    EXPECT_EQ(Settings(fakes::Resizer).ReceivedWhileFlushing, 0) << "a picture while flushing";
    Settings(fakes::Resizer).Hold = false;
    ExpectFrames(Run(KeySample(1), total), KeySample(1), kWidth, kHeight);

    // The graph's own Stop and Run, keeping the filters: the new run starts afresh.
    ASSERT_EQ(m_processor.Flush(), S_OK);
    Settings(fakes::Resizer).Hold = true;
    EXPECT_LT(FeedUntilBlocked(), total);
    ComPtr<IMediaControl> control;
    ASSERT_EQ(QueryTo(Settings(fakes::Resizer).Graph, IID_IMediaControl, &control), S_OK);
    EXPECT_EQ(control->Stop(), S_OK);
    Settings(fakes::Resizer).Hold = false;
    EXPECT_EQ(control->Run(), S_OK);
    ExpectFrames(Run(0, total), 0, kWidth, kHeight);
    EXPECT_EQ(Settings(fakes::Resizer).Created, 1);
}

// One I420 picture through the converter in each subtype, against libswscale writing the
// layout the subtype means; stand-ins decode and resize.
TEST_F(PosixProcessor, ConverterWritesEachSubtypeInItsLayoutWithTheSampleProperties) {
    Bytes i420(size_t(kWidth) * kHeight * 3 / 2);
    for (size_t i = 0; i < i420.size(); ++i)
        i420[i] =
            uint8_t(i < size_t(kWidth) * kHeight ? (i / kWidth) + (i % kWidth) / 4 : i * 7 / 5);
    const struct {
        GUID subtype;
        AVPixelFormat format;
        bool swapChroma, bottomUp;
    } cases[] = {
        {MEDIASUBTYPE_YUY2, AV_PIX_FMT_YUYV422, false, false},
        {FourCCSubtype(MakeFourCC('U', 'Y', 'V', 'Y')), AV_PIX_FMT_UYVY422, false, false},
        {FourCCSubtype(MakeFourCC('Y', 'V', '1', '2')), AV_PIX_FMT_YUV420P, true, false},
        {FourCCSubtype(MakeFourCC('N', 'V', '1', '2')), AV_PIX_FMT_NV12, false, false},
        {MEDIASUBTYPE_RGB24, AV_PIX_FMT_BGR24, false, true},
        {MEDIASUBTYPE_RGB32, AV_PIX_FMT_BGRA, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.subtype.Data1);
        fakes::ResetFakes();
        fakes::BindFake(fakes::Decoder);
        fakes::BindFake(fakes::Resizer);
        Settings(fakes::Decoder).Offered = Picture(kI420, kWidth, kHeight);
        const CMediaType output = Picture(c.subtype, kWidth, kHeight);
        ASSERT_EQ(Start(AvcInputType(kAvc1Iso), output), S_OK);
        ASSERT_EQ(Feed(m_processor, i420.data(), i420.size(), 5, 7, false), S_OK);
        OutSample frame(1 << 18);
        ASSERT_EQ(Take(m_processor, &frame), S_OK);
        REFERENCE_TIME stop = 0;
        EXPECT_EQ(frame.Start(&stop), 5);
        EXPECT_EQ(stop, 7);
        EXPECT_EQ(frame.Get()->IsSyncPoint(), S_FALSE);
        IPin* converter = Settings(fakes::Resizer).Upstream;
        ASSERT_NE(converter, nullptr);
        const CMediaType larger = Picture(c.subtype, kWidth * 2, kHeight);
        EXPECT_EQ(converter->QueryAccept(&output), S_OK);
        EXPECT_NE(converter->QueryAccept(&larger), S_OK) << "the converter keeps the size";

        // Reference: top-down planes in libavutil's order, then laid out as the subtype says.
        const int srcStride[4] = {kWidth, kWidth / 2, kWidth / 2, 0};
        const uint8_t* src[4] = {i420.data(), i420.data() + kWidth * kHeight,
                                 i420.data() + kWidth * kHeight * 5 / 4, nullptr};
        Bytes expected(frame.Data().size());
        uint8_t* dst[4] = {};
        int dstStride[4] = {};
        ASSERT_GT(
            av_image_fill_arrays(dst, dstStride, expected.data(), c.format, kWidth, kHeight, 1), 0);
        if (c.swapChroma)
            std::swap(dst[1], dst[2]);
        if (c.bottomUp) {
            dst[0] += dstStride[0] * (kHeight - 1);
            dstStride[0] = -dstStride[0];
        }
        SwsContext* sws = sws_getContext(kWidth, kHeight, AV_PIX_FMT_YUV420P, kWidth, kHeight,
                                         c.format, SWS_BICUBIC, nullptr, nullptr, nullptr);
        sws_scale(sws, src, srcStride, 0, kHeight, dst, dstStride);
        sws_freeContext(sws);
        EXPECT_GE(Psnr(frame.Data(), expected), 45.0);
        ASSERT_EQ(m_processor.Stop(), S_OK);
    }
}

// Copies the VIDEOINFOHEADER's picture into a header of the format, the record after it.
void ToFormat(CMediaType* type, const GUID& format) {
    const Bytes& record = Stream().avcC;
    const VIDEOINFOHEADER vih = *reinterpret_cast<const VIDEOINFOHEADER*>(type->Format());
    const bool mpeg2 = format == FORMAT_MPEG2Video;
    const ULONG header =
        mpeg2 ? offsetof(MPEG2VIDEOINFO, dwSequenceHeader) : sizeof(VIDEOINFOHEADER2);
    BYTE* block = type->AllocFormatBuffer(ULONG(header + record.size()));
    std::memset(block, 0, header);
    auto* vih2 = reinterpret_cast<VIDEOINFOHEADER2*>(block);
    vih2->AvgTimePerFrame = vih.AvgTimePerFrame;
    vih2->bmiHeader = vih.bmiHeader;
    vih2->bmiHeader.biSize = sizeof(BITMAPINFOHEADER) + (mpeg2 ? 0 : DWORD(record.size()));
    if (mpeg2)
        reinterpret_cast<MPEG2VIDEOINFO*>(block)->cbSequenceHeader = DWORD(record.size());
    std::memcpy(block + header, record.data(), record.size());
    type->SetFormatType(&format);
}

// Variants of a valid AVC type: the decoder takes the first four and gives I420 at the
// announced size.
TEST_F(PosixProcessor, DecoderTakesTheAvcFormsAndRefusesTheRest) {
    using Edit = void (*)(CMediaType*);
    const Edit edits[] = {
        [](CMediaType*) {},
        [](CMediaType* t) { t->SetSubtype(&kAvc1); },
        [](CMediaType* t) { ToFormat(t, FORMAT_VideoInfo2); },
        [](CMediaType* t) { ToFormat(t, FORMAT_MPEG2Video); },
        [](CMediaType* t) {
            const GUID hevc = FourCCSubtype(MakeFourCC('H', 'V', 'C', '1'));
            t->SetSubtype(&hevc);
        },
        [](CMediaType* t) { t->Format()[sizeof(VIDEOINFOHEADER) + 8] = 0; }, // record version 0
        [](CMediaType* t) { t->Format()[sizeof(VIDEOINFOHEADER) + 2] = 1; }, // box > block
        [](CMediaType* t) {
            t->ReallocFormatBuffer(sizeof(VIDEOINFOHEADER));
            reinterpret_cast<VIDEOINFOHEADER*>(t->Format())->bmiHeader.biSize = 40;
        },
        [](CMediaType* t) {
            reinterpret_cast<VIDEOINFOHEADER*>(t->Format())->bmiHeader.biWidth = 0;
        },
        [](CMediaType* t) { t->SetType(&MEDIATYPE_Audio); },
    };
    for (size_t i = 0; i < std::size(edits); ++i) {
        SCOPED_TRACE(i);
        fakes::ResetFakes();
        fakes::BindFake(fakes::Converter);
        CMediaType input = AvcInputType(kAvc1Iso);
        edits[i](&input);
        CVideoProcessor processor;
        ASSERT_EQ(processor.SetInputType(&input, &kInputBuffers), S_OK);
        const CMediaType output = Picture(MEDIASUBTYPE_YUY2, kWidth, kHeight);
        ASSERT_EQ(processor.SetOutputType(&output), S_OK);
        const HRESULT hr = processor.Start();
        if (i >= 4) {
            EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
            continue;
        }
        ASSERT_EQ(hr, S_OK);
        VideoPicture picture;
        ASSERT_TRUE(ReadVideoPicture(Settings(fakes::Converter).Input, &picture));
        EXPECT_EQ(picture.subtype, kI420);
        EXPECT_EQ(picture.width, kWidth);
        EXPECT_EQ(picture.height, kHeight);
    }
}

TEST(ProcessorFilters, DisplayNamesBindTheFiltersOfTheirCodecAndRole) {
    ASSERT_EQ(RegisterProcessorFilters(), S_OK);
    const std::pair<const WCHAR*, const GUID*> cases[] = {
        {kAvcDecoderDisplayName, &CLSID_KvssfAvcDecoder},
        {kWvc1DecoderDisplayName, &CLSID_KvssfWvc1Decoder},
        {kColorConverterDisplayName, &CLSID_KvssfColorConverter},
        {kResizerDisplayName, &CLSID_KvssfResizer}};
    for (const auto& [name, expected] : cases) {
        ComPtr<IBindCtx> context;
        ComPtr<IMoniker> moniker;
        ComPtr<IBaseFilter> filter;
        ULONG eaten = 0;
        CLSID clsid{};
        ASSERT_EQ(CreateBindCtx(0, context.Out()), S_OK);
        ASSERT_EQ(MkParseDisplayName(context.Get(), name, &eaten, moniker.Out()), S_OK);
        ASSERT_EQ(moniker->BindToObject(context.Get(), nullptr, IID_IBaseFilter, filter.OutVoid()),
                  S_OK);
        EXPECT_EQ(filter->GetClassID(&clsid), S_OK);
        EXPECT_EQ(clsid, *expected);
    }
}

} // namespace

#if defined(__SANITIZE_THREAD__)
// libavcodec's frame threads hand buffers over through atomics inside the uninstrumented
// FFmpeg libraries, which the race detector cannot see: reports whose stack passes
// through them are not about this code.
extern "C" const char* __tsan_default_suppressions() {
    return "race:libavcodec.so\nrace:libavutil.so\n";
}
#endif
