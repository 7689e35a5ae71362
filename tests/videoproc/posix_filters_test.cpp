// The POSIX decoder, colour converter and resizer in the video processor's graph, fed the
// H.264 clip the test fixture encodes into KVSSF_MEDIA_DIR and checked against its
// decodes there and against libswscale.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

extern "C" {
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include "tests/videoproc/avc_units.h"
#include "tests/videoproc/fake_transform.h"
#include "tests/videoproc/processor_driver.h"
#include "videoproc/posix/processor_classes.h"
#include "videoproc/posix/video_picture.h"

namespace {

using avc::Bytes;
using fakes::Settings;

constexpr GUID kAvc1Iso = {
    0x31637661, 0x5349, 0x4D4F, {0x45, 0x44, 0x49, 0x41, 0x54, 0x59, 0x50, 0x45}};
const GUID kAvc1 = FourCCSubtype(MakeFourCC('A', 'V', 'C', '1'));
const GUID kI420 = FourCCSubtype(MakeFourCC('I', '4', '2', '0'));
constexpr REFERENCE_TIME kFrame = 400000, kBase = 10000000;
constexpr int kWidth = 320, kHeight = 180;
constexpr ALLOCATOR_PROPERTIES kInputBuffers = {1, 1 << 17, 1, 0};

std::string Media(const std::string& name) {
    const char* dir = std::getenv("KVSSF_MEDIA_DIR");
    return std::string(dir ? dir : ".") + "/" + name;
}

// 36 smooth moving pictures at kWidth × kHeight: B-frames, a closed GOP every 12.
const avc::Clip& Stream() {
    static const avc::Clip clip = avc::ReadClip(Media("clip.h264"));
    return clip;
}

// Peak signal-to-noise ratio of two byte pictures of equal length, in dB (99 when equal).
double Psnr(const uint8_t* a, const uint8_t* b, size_t size) {
    double sum = 0;
    for (size_t i = 0; i < size; ++i)
        sum += (double(a[i]) - double(b[i])) * (double(a[i]) - double(b[i]));
    return sum == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / (sum / double(size)));
}

CMediaType AvcInputType(const GUID& subtype, LONG width = kWidth, LONG height = kHeight) {
    return avc::InputType(Stream().record, subtype, width, height, kFrame);
}

CMediaType Picture(const GUID& subtype, LONG width = kWidth, LONG height = kHeight) {
    CMediaType type;
    EXPECT_EQ(MakeVideoType(subtype, width, height, kFrame, false, &type), S_OK);
    return type;
}

REFERENCE_TIME StartOf(size_t sample) {
    return kBase + REFERENCE_TIME(sample) * kFrame;
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
        ASSERT_FALSE(Stream().samples.empty()) << "no clip: run the test's fixture";
        fakes::UseFakes({});
        ASSERT_EQ(RegisterProcessorFilters(), S_OK);
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
// with the input times in order. A closed GOP starts at each IDR: decoded from one, the
// stream gives the tail of the whole decode, which the fixture wrote scaled bicubically.
void ExpectFrames(const std::vector<Frame>& frames, size_t first, int width, int height) {
    const size_t size = size_t(width) * height * 2;
    const Bytes reference =
        avc::ReadFile(Media(std::to_string(width) + "x" + std::to_string(height) + ".yuy2"));
    ASSERT_EQ(reference.size(), Stream().samples.size() * size);
    ASSERT_EQ(frames.size(), Stream().samples.size() - first);
    for (size_t i = 0; i < frames.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(frames[i].start, StartOf(first + i));
        EXPECT_EQ(frames[i].stop, StartOf(first + i) + kFrame);
        EXPECT_TRUE(frames[i].sync);
        ASSERT_EQ(frames[i].data.size(), size);
        EXPECT_GE(Psnr(frames[i].data.data(), &reference[(first + i) * size], size), 35.0);
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
    fakes::UseFakes({fakes::Resizer});
    fakes::RoleSettings& resizer = Settings(fakes::Resizer);
    resizer.Hold = true;
    ASSERT_EQ(Start(AvcInputType(kAvc1Iso), Picture(MEDIASUBTYPE_YUY2)), S_OK);
    const std::vector<bool>& sync = Stream().sync;
    const size_t total = sync.size(),
                 key = std::find(sync.begin() + 1, sync.end(), true) - sync.begin();
    EXPECT_LT(FeedUntilBlocked(), total);
    EXPECT_EQ(m_processor.Flush(), S_OK);
    EXPECT_EQ(resizer.ReceivedWhileFlushing, 0) << "a picture while flushing";
    resizer.Hold = false;
    ExpectFrames(Run(key, total), key, kWidth, kHeight);

    // The graph's own Stop and Run, keeping the filters: the new run starts afresh.
    ASSERT_EQ(m_processor.Flush(), S_OK);
    resizer.Hold = true;
    EXPECT_LT(FeedUntilBlocked(), total);
    ComPtr<IMediaControl> control;
    ASSERT_EQ(QueryTo(resizer.Graph, IID_IMediaControl, &control), S_OK);
    EXPECT_EQ(control->Stop(), S_OK);
    resizer.Hold = false;
    EXPECT_EQ(control->Run(), S_OK);
    ExpectFrames(Run(0, total), 0, kWidth, kHeight);
    EXPECT_EQ(resizer.Created, 1);
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
        fakes::UseFakes({fakes::Decoder, fakes::Resizer});
        Settings(fakes::Decoder).Offered = Picture(kI420);
        const CMediaType output = Picture(c.subtype);
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
        EXPECT_GE(Psnr(frame.Data().data(), expected.data(), expected.size()), 45.0);
        ASSERT_EQ(m_processor.Stop(), S_OK);
    }
}

// The VIDEOINFOHEADER's picture in a header of the format, the record after it.
void ToFormat(CMediaType* type, const GUID& format) {
    const Bytes& record = Stream().record;
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
        fakes::UseFakes({fakes::Converter});
        CMediaType input = AvcInputType(kAvc1Iso);
        edits[i](&input);
        CVideoProcessor processor;
        ASSERT_EQ(processor.SetInputType(&input, &kInputBuffers), S_OK);
        const CMediaType output = Picture(MEDIASUBTYPE_YUY2);
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
