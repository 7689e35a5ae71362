// The POSIX decoder, colour converter and resizer in the processor's graph, fed the H.264 clip
// the fixture encodes into KVSSF_MEDIA_DIR and checked against ffmpeg's pictures of it there.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "tests/videoproc/avc_units.h"
#include "tests/videoproc/fake_transform.h"
#include "tests/videoproc/processor_driver.h"
#include "videoproc/posix/processor_classes.h"
#include "videoproc/posix/video_picture.h"

namespace {

using avc::Bytes;
using fakes::Picture;
using fakes::Settings;

const GUID kAvc1 = FourCCSubtype(MakeFourCC('A', 'V', 'C', '1'));
const GUID kI420 = FourCCSubtype(MakeFourCC('I', '4', '2', '0'));
const GUID kWvc1 = FourCCSubtype(MakeFourCC('W', 'V', 'C', '1'));
// A VC-1 advanced profile sequence header of a 320 × 180 picture, and an entry point.
const Bytes kVc1Headers = {0, 0, 1, 0x0f, 0xca, 0, 0x09, 0xf0, 0x59, 0x08, 0, 0, 1, 0x0e, 0x40, 0};
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

// Peak signal-to-noise ratio of picture against as many bytes at reference, in dB.
double Psnr(const Bytes& picture, const uint8_t* reference) {
    double sum = 0;
    for (size_t i = 0; i < picture.size(); ++i)
        sum += (double(picture[i]) - reference[i]) * (double(picture[i]) - reference[i]);
    return sum == 0 ? 99 : 10 * std::log10(255.0 * 255 * double(picture.size()) / sum);
}

CMediaType AvcInputType(const GUID& subtype = kSubtypeAvc1Iso,
                        const GUID& format = FORMAT_VideoInfo, LONG width = kWidth,
                        LONG height = kHeight) {
    return avc::InputType(Stream().record, subtype, width, height, kFrame, format);
}

const CMediaType kVc1Input =
    avc::InputType(kVc1Headers, kWvc1, kWidth, kHeight, kFrame, FORMAT_VideoInfo2);

REFERENCE_TIME StartOf(size_t sample) {
    return kBase + REFERENCE_TIME(sample) * kFrame;
}

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
    // Feeds samples from first on and the end, taking frames as they come: every picture from
    // first on (an IDR starts a closed GOP) as the fixture's whole decode at width × height has it.
    void ExpectRun(size_t first, int width, int height) {
        const size_t size = size_t(width) * height * 2, total = Stream().samples.size();
        const Bytes reference =
            avc::ReadFile(Media(std::to_string(width) + "x" + std::to_string(height) + ".yuy2"));
        ASSERT_EQ(reference.size(), total * size);
        OutSample out(1 << 18);
        HRESULT hr = E_PENDING;
        size_t fed = first, taken = first;
        for (int idle = 0; idle < 500 && (hr == S_OK || hr == E_PENDING); ++idle) {
            if (fed < total && FeedSample(fed, 1) == S_OK) {
                ++fed;
                idle = -1;
                continue;
            }
            if (fed == total) {
                ++fed;
                ASSERT_EQ(m_processor.EndOfInput(), S_OK);
            }
            if ((hr = m_processor.GetOutputSample(out.Get())) == S_OK) {
                SCOPED_TRACE(taken);
                EXPECT_EQ(out.Times(), std::make_pair(StartOf(taken), StartOf(taken) + kFrame));
                EXPECT_EQ(out.Get()->IsSyncPoint(), S_OK);
                ASSERT_LT(taken, total);
                ASSERT_EQ(out.Data().size(), size);
                EXPECT_GE(Psnr(out.Data(), &reference[taken++ * size]), 35.0);
                idle = -1;
            }
            m_processor.WaitForProgress(20);
        }
        EXPECT_EQ(hr, S_FALSE);
        EXPECT_EQ(taken, total);
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

// AVC1 announcing a larger picture than it codes, down-scaled.
TEST_F(PosixProcessor, DecodesAndScalesEveryPictureInDisplayOrder) {
    const CMediaType input = AvcInputType(kAvc1, FORMAT_VideoInfo, 352, 198);
    ASSERT_EQ(Start(input, Picture(MEDIASUBTYPE_YUY2, 160, 90)), S_OK);
    ExpectRun(0, 160, 90);
}

// A stand-in resizer that holds the converter's buffers blocks the upstream thread.
TEST_F(PosixProcessor, FlushAndStopReleaseAStreamBlockedOnAFullResizerAndForgetIt) {
    fakes::UseFakes({fakes::Resizer});
    fakes::RoleSettings& resizer = Settings(fakes::Resizer);
    resizer.Hold = true;
    ASSERT_EQ(Start(AvcInputType(), Picture(MEDIASUBTYPE_YUY2)), S_OK);
    const std::vector<bool>& sync = Stream().sync;
    const size_t total = sync.size(),
                 key = std::find(sync.begin() + 1, sync.end(), true) - sync.begin();
    EXPECT_LT(FeedUntilBlocked(), total);
    EXPECT_EQ(m_processor.Flush(), S_OK);
    EXPECT_EQ(resizer.ReceivedWhileFlushing, 0) << "a picture while flushing";
    resizer.Hold = false;
    ExpectRun(key, kWidth, kHeight);

    // The graph's own Stop and Run, keeping the filters: the new run starts afresh.
    ASSERT_EQ(m_processor.Flush(), S_OK);
    resizer.Hold = true;
    EXPECT_LT(FeedUntilBlocked(), total);
    ComPtr<IMediaControl> control;
    ASSERT_EQ(QueryTo(resizer.Graph, IID_IMediaControl, &control), S_OK);
    EXPECT_EQ(control->Stop(), S_OK);
    resizer.Hold = false;
    EXPECT_EQ(control->Run(), S_OK);
    ExpectRun(0, kWidth, kHeight);
    EXPECT_EQ(resizer.Created, 1);
}

// The clip's first picture in I420 through the converter in each subtype, against ffmpeg's
// conversion in that subtype's layout; stand-ins decode and resize.
TEST_F(PosixProcessor, ConverterWritesEachSubtypeInItsLayoutWithTheSampleProperties) {
    const Bytes i420 = avc::ReadFile(Media("picture.yuv420p"));
    ASSERT_EQ(i420.size(), size_t(kWidth) * kHeight * 3 / 2);
    const std::pair<GUID, const char*> cases[] = {
        {MEDIASUBTYPE_YUY2, "yuyv422"},
        {FourCCSubtype(MakeFourCC('U', 'Y', 'V', 'Y')), "uyvy422"},
        {FourCCSubtype(MakeFourCC('Y', 'V', '1', '2')), "yv12"},
        {FourCCSubtype(MakeFourCC('N', 'V', '1', '2')), "nv12"},
        {MEDIASUBTYPE_RGB24, "bgr24"},
        {MEDIASUBTYPE_RGB32, "bgra"},
    };
    for (const auto& [subtype, name] : cases) {
        SCOPED_TRACE(name);
        fakes::UseFakes({fakes::Decoder, fakes::Resizer});
        Settings(fakes::Decoder).Offered = Picture(kI420);
        const CMediaType output = Picture(subtype);
        ASSERT_EQ(Start(AvcInputType(), output), S_OK);
        ASSERT_EQ(Feed(m_processor, i420.data(), i420.size(), 5, 7, false), S_OK);
        OutSample frame(1 << 18);
        ASSERT_EQ(Take(m_processor, &frame), S_OK);
        EXPECT_EQ(frame.Times(), std::make_pair(REFERENCE_TIME(5), REFERENCE_TIME(7)));
        EXPECT_EQ(frame.Get()->IsSyncPoint(), S_FALSE);
        IPin* converter = Settings(fakes::Resizer).Upstream;
        ASSERT_NE(converter, nullptr);
        const CMediaType larger = Picture(subtype, kWidth * 2, kHeight);
        EXPECT_EQ(converter->QueryAccept(&output), S_OK);
        EXPECT_NE(converter->QueryAccept(&larger), S_OK) << "the converter keeps the size";

        const Bytes expected = avc::ReadFile(Media(std::string("picture.") + name));
        ASSERT_EQ(frame.Data().size(), expected.size());
        EXPECT_GE(Psnr(frame.Data(), expected.data()), 45.0);
        ASSERT_EQ(m_processor.Stop(), S_OK);
    }
}

// Other forms of the AVC type the other tests feed, and a WVC1 type: the decoders take the
// first three and give I420 at the announced size, and refuse the rest.
TEST_F(PosixProcessor, DecoderTakesTheAvcFormsAndRefusesTheRest) {
    static const GUID kHvc1 = FourCCSubtype(MakeFourCC('H', 'V', 'C', '1'));
    constexpr size_t kRecord = sizeof(VIDEOINFOHEADER) + 8; // after the avcC box header
    constexpr HRESULT kRefused = VFW_E_TYPE_NOT_ACCEPTED;
    const std::pair<void (*)(CMediaType*), HRESULT> edits[] = {
        {[](CMediaType* t) { *t = AvcInputType(kSubtypeAvc1Iso, FORMAT_VideoInfo2); }, S_OK},
        {[](CMediaType* t) { *t = AvcInputType(kSubtypeAvc1Iso, FORMAT_MPEG2Video); }, S_OK},
        {[](CMediaType* t) { *t = kVc1Input; }, S_OK},
        {[](CMediaType* t) { t->SetSubtype(&kHvc1); }, E_FAIL},          // no decoder for it
        {[](CMediaType* t) { t->Format()[kRecord] = 0; }, kRefused},     // version 0
        {[](CMediaType* t) { t->Format()[kRecord - 6] = 1; }, kRefused}, // box > block
        {[](CMediaType* t) { t->ReallocFormatBuffer(sizeof(VIDEOINFOHEADER)); }, kRefused},
        {[](CMediaType* t) { *t = AvcInputType(kSubtypeAvc1Iso, FORMAT_VideoInfo, 0); }, kRefused},
        {[](CMediaType* t) { t->SetType(&MEDIATYPE_Audio); }, kRefused},
    };
    for (size_t i = 0; i < std::size(edits); ++i) {
        SCOPED_TRACE(i);
        fakes::UseFakes({fakes::Converter});
        CMediaType input = AvcInputType();
        edits[i].first(&input);
        ASSERT_EQ(Start(input, Picture(MEDIASUBTYPE_YUY2)), edits[i].second);
        if (FAILED(edits[i].second))
            continue;
        VideoPicture picture;
        ASSERT_TRUE(ReadVideoPicture(Settings(fakes::Converter).Input, &picture));
        EXPECT_EQ(std::tie(picture.subtype, picture.width, picture.height),
                  std::make_tuple(kI420, kWidth, kHeight));
        ASSERT_EQ(m_processor.Stop(), S_OK);
    }
}

} // namespace

#if defined(__SANITIZE_THREAD__)
// libavcodec's frame threads hand buffers over through atomics inside the uninstrumented FFmpeg
// libraries, which the race detector cannot see: such reports are not about this code.
extern "C" const char* __tsan_default_suppressions() {
    return "race:libavcodec.so\nrace:libavutil.so\n";
}
#endif
