// The POSIX decoder, colour converter and resizer, connected and run in the platform's
// filter graph the way the video processor connects them.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

extern "C" {
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include "tests/videoproc/filter_harness.h"
#include "videoproc/posix/processor_classes.h"
#include "videoproc/posix/video_decoder.h"
#include "videoproc/posix/video_picture.h"
#include "videoproc/posix/video_scaler.h"
#include "videoproc/processor_filters.h"

namespace {

constexpr GUID kAvc1Iso = {
    0x31637661, 0x5349, 0x4D4F, {0x45, 0x44, 0x49, 0x41, 0x54, 0x59, 0x50, 0x45}};
const GUID kAvc1 = FourCCSubtype(MakeFourCC('A', 'V', 'C', '1'));
constexpr REFERENCE_TIME kFrame = 400000;
constexpr REFERENCE_TIME kBase = 10000000;
constexpr int kWidth = 320, kHeight = 180;

const EncodedStream& Stream() {
    static const EncodedStream stream = EncodeTestStream(kWidth, kHeight, 36);
    return stream;
}

REFERENCE_TIME StartOf(size_t sample) {
    return kBase + REFERENCE_TIME(sample) * kFrame;
}

ComPtr<IBaseFilter> Make(ComClassCreator create) {
    ComPtr<IBaseFilter> filter;
    EXPECT_EQ(create(nullptr, IID_IBaseFilter, filter.OutVoid()), S_OK);
    return filter;
}

ComPtr<IPin> PinOf(IBaseFilter* filter, const WCHAR* id) {
    ComPtr<IPin> pin;
    filter->FindPin(id, pin.Out());
    return pin;
}

CMediaType Yuy2(LONG width, LONG height) {
    CMediaType type;
    MakeVideoType(MEDIASUBTYPE_YUY2, width, height, kFrame, false, &type);
    return type;
}

// A graph without a clock holding a test source and sink around filters of this build.
struct Graph {
    Graph(const CMediaType& input, LONG bufferSize)
        : source(new CTestSource(input, bufferSize)), sink(new CTestSink) {
        EXPECT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IGraphBuilder, graph.OutVoid()),
                  S_OK);
        ComPtr<IMediaFilter> filter;
        QueryTo(graph.Get(), IID_IMediaFilter, &filter);
        filter->SetSyncSource(nullptr);
        QueryTo(graph.Get(), IID_IMediaControl, &control);
        graph->AddFilter(source.Get(), L"source");
        graph->AddFilter(sink.Get(), L"sink");
    }
    ~Graph() {
        if (control)
            control->Stop();
    }
    IPin* SourcePin() { return source->GetPin(0); }
    IPin* SinkPin() { return sink->GetPin(0); }

    ComPtr<IGraphBuilder> graph;
    ComPtr<IMediaControl> control;
    ComPtr<CTestSource> source;
    ComPtr<CTestSink> sink;
};

// source -> decoder -> converter -> resizer -> sink, connected as the processor does.
HRESULT BuildChain(Graph* g, const CMediaType& input, LONG width, LONG height) {
    ComPtr<IBaseFilter> decoder = Make(&CVideoDecoder::CreateAvc);
    ComPtr<IBaseFilter> converter = Make(&CVideoScaler::CreateConverter);
    ComPtr<IBaseFilter> resizer = Make(&CVideoScaler::CreateResizer);
    g->graph->AddFilter(decoder.Get(), L"decoder");
    g->graph->AddFilter(converter.Get(), L"converter");
    g->graph->AddFilter(resizer.Get(), L"resizer");
    HRESULT hr = g->graph->ConnectDirect(g->SourcePin(), PinOf(decoder.Get(), L"In").Get(), &input);
    if (SUCCEEDED(hr))
        hr = g->graph->ConnectDirect(PinOf(decoder.Get(), L"Out").Get(),
                                     PinOf(converter.Get(), L"In").Get(), nullptr);
    if (FAILED(hr))
        return hr;
    AM_MEDIA_TYPE converted{};
    PinOf(converter.Get(), L"In")->ConnectionMediaType(&converted);
    CMediaType middle(converted);
    FreeMediaType(converted);
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(middle.Format());
    middle.SetSubtype(&MEDIASUBTYPE_YUY2);
    vih->bmiHeader.biBitCount = 16;
    vih->bmiHeader.biCompression = MEDIASUBTYPE_YUY2.Data1;
    vih->bmiHeader.biSizeImage = DWORD(vih->bmiHeader.biWidth * 2 * vih->bmiHeader.biHeight);
    hr = g->graph->ConnectDirect(PinOf(converter.Get(), L"Out").Get(),
                                 PinOf(resizer.Get(), L"In").Get(), &middle);
    if (FAILED(hr))
        return hr;
    const CMediaType output = Yuy2(width, height);
    return g->graph->ConnectDirect(PinOf(resizer.Get(), L"Out").Get(), g->SinkPin(), &output);
}

// Pushes samples [first, last) of the stream with their decode times: the first failure.
HRESULT PushSamples(CTestSource* source, size_t first, size_t last) {
    const EncodedStream& stream = Stream();
    for (size_t i = first; i < last; ++i) {
        const HRESULT hr = source->Push(stream.samples[i].data, StartOf(i), StartOf(i) + kFrame,
                                        stream.samples[i].sync);
        if (hr != S_OK)
            return hr;
    }
    return S_OK;
}

// The frames after the last event named after, checked against the reference pictures
// of samples from first on.
void ExpectFrames(CTestSink* sink, size_t first, LONG width, LONG height, const char* after) {
    const std::vector<std::string> events = sink->Events();
    const auto from = std::find(events.rbegin(), events.rend(), after).base();
    const size_t skipped = size_t(std::count(events.begin(), from, "frame"));
    const std::vector<ReceivedFrame> all = sink->Frames();
    const std::vector<ReceivedFrame> frames(all.begin() + long(skipped), all.end());
    const std::vector<Bytes> reference = ReferencePictures(Stream(), first, width, height);
    const size_t expected = Stream().samples.size() - first;
    ASSERT_EQ(reference.size(), expected);
    ASSERT_EQ(frames.size(), expected);
    ASSERT_EQ(events.back(), "end") << "the end follows the drained pictures";
    for (size_t i = 0; i < frames.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(frames[i].timeResult, S_OK);
        EXPECT_EQ(frames[i].start, StartOf(first + i));
        EXPECT_EQ(frames[i].stop, StartOf(first + i) + kFrame);
        EXPECT_TRUE(frames[i].sync);
        ASSERT_EQ(frames[i].data.size(), size_t(width) * height * 2);
        EXPECT_GE(Psnr(frames[i].data, reference[i]), 35.0);
    }
}

struct ChainCase {
    const char* name;
    const GUID* subtype;
    LONG announcedWidth, announcedHeight; // the input type's picture size
    LONG width, height;                   // the sink's
};

class DecodeChain : public testing::TestWithParam<ChainCase> {};

TEST_P(DecodeChain, EveryPictureInDisplayOrderAtTheOutputSizeThenTheEnd) {
    const ChainCase& c = GetParam();
    const EncodedStream& stream = Stream();
    ASSERT_GT(std::count_if(stream.samples.begin(), stream.samples.end(),
                            [](const EncodedSample& s) { return s.sync; }),
              1);
    bool reordered = false;
    for (size_t i = 0; i < stream.samples.size(); ++i)
        reordered = reordered || stream.samples[i].displayIndex != int64_t(i);
    ASSERT_TRUE(reordered) << "B-frames make the display order differ";
    Graph g(AvcInputType(*c.subtype, stream.avcC, c.announcedWidth, c.announcedHeight), 1 << 20);
    ASSERT_EQ(BuildChain(&g,
                         AvcInputType(*c.subtype, stream.avcC, c.announcedWidth, c.announcedHeight),
                         c.width, c.height),
              S_OK);
    ASSERT_EQ(g.control->Run(), S_OK);
    EXPECT_EQ(g.source->Output()->DeliverNewSegment(0, kBase * 100, 1.0), S_OK);
    ASSERT_EQ(PushSamples(g.source.Get(), 0, stream.samples.size()), S_OK);
    EXPECT_EQ(g.source->Output()->DeliverEndOfStream(), S_OK);
    EXPECT_EQ(g.sink->Events().front(), "segment");
    ExpectFrames(g.sink.Get(), 0, c.width, c.height, "segment");
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, DecodeChain,
    testing::Values(ChainCase{"Iso_Up", &kAvc1Iso, kWidth, kHeight, 640, 360},
                    ChainCase{"Avc1_Down", &kAvc1, kWidth, kHeight, 160, 90},
                    ChainCase{"AnnouncedSizeDiffers", &kAvc1Iso, 352, 198, kWidth, kHeight}),
    [](const testing::TestParamInfo<ChainCase>& info) { return std::string(info.param.name); });

// The decode-order index of the n-th IDR sample (n from 0).
size_t KeySample(int n) {
    const EncodedStream& stream = Stream();
    for (size_t i = 0; i < stream.samples.size(); ++i)
        if (stream.samples[i].sync && n-- == 0)
            return i;
    return stream.samples.size();
}

TEST(DecodeChainFlush, NothingWhileFlushingThenTheRightPicturesFromAKeyFrame) {
    const EncodedStream& stream = Stream();
    const CMediaType input = AvcInputType(kAvc1Iso, stream.avcC, kWidth, kHeight);
    Graph g(input, 1 << 20);
    ASSERT_EQ(BuildChain(&g, input, kWidth, kHeight), S_OK);
    ASSERT_EQ(g.control->Run(), S_OK);
    const size_t restart = KeySample(1);
    ASSERT_LT(restart + 6, stream.samples.size());
    // Stop mid-GOP, with pictures and their times held back in the decoder.
    ASSERT_EQ(PushSamples(g.source.Get(), 0, restart + 5), S_OK);
    EXPECT_EQ(g.source->Output()->DeliverBeginFlush(), S_OK);
    EXPECT_EQ(PushSamples(g.source.Get(), restart + 5, restart + 6), S_FALSE);
    EXPECT_EQ(g.source->Output()->DeliverEndFlush(), S_OK);
    ASSERT_EQ(PushSamples(g.source.Get(), restart, stream.samples.size()), S_OK);
    EXPECT_EQ(g.source->Output()->DeliverEndOfStream(), S_OK);

    const std::vector<std::string> events = g.sink->Events();
    const auto begin = std::find(events.begin(), events.end(), "begin-flush");
    const auto end = std::find(events.begin(), events.end(), "end-flush");
    ASSERT_LT(begin, end);
    EXPECT_EQ(std::find(begin, end, "frame"), end) << "a picture delivered while flushing";
    ExpectFrames(g.sink.Get(), restart, kWidth, kHeight, "end-flush");
}

// Runs the chain into a sink that holds every picture, with an upstream thread pushing
// the whole stream; returns once that thread waits for one of the resizer's two buffers.
void BlockOnAFullSink(Graph* g, std::thread* upstream, HRESULT* pushed) {
    g->sink->SetHold(true);
    ASSERT_EQ(g->control->Run(), S_OK);
    *upstream = std::thread(
        [g, pushed] { *pushed = PushSamples(g->source.Get(), 0, Stream().samples.size()); });
    for (int i = 0; i < 500 && g->sink->Frames().size() < 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(g->sink->Frames().size(), 2u);
}

TEST(DecodeChainFlush, AFlushReleasesAStreamBlockedOnAFullSinkWithoutAPicture) {
    const EncodedStream& stream = Stream();
    const CMediaType input = AvcInputType(kAvc1, stream.avcC, kWidth, kHeight);
    Graph g(input, 1 << 20);
    ASSERT_EQ(BuildChain(&g, input, 160, 90), S_OK);
    std::thread upstream;
    HRESULT pushed = S_OK;
    BlockOnAFullSink(&g, &upstream, &pushed);
    // The sink's flush frees a buffer; the picture waiting for it must not follow.
    EXPECT_EQ(g.source->Output()->DeliverBeginFlush(), S_OK);
    upstream.join();
    EXPECT_EQ(pushed, S_FALSE);
    EXPECT_EQ(g.source->Output()->DeliverEndFlush(), S_OK);
    EXPECT_EQ(g.sink->Events().back(), "end-flush");
    EXPECT_EQ(g.sink->Frames().size(), 2u);
}

TEST(DecodeChainStop, StopReleasesAStreamBlockedOnAFullSinkAndTheGraphRunsAgain) {
    const EncodedStream& stream = Stream();
    const CMediaType input = AvcInputType(kAvc1, stream.avcC, kWidth, kHeight);
    Graph g(input, 1 << 20);
    ASSERT_EQ(BuildChain(&g, input, 160, 90), S_OK);
    std::thread upstream;
    HRESULT pushed = S_OK;
    BlockOnAFullSink(&g, &upstream, &pushed);
    EXPECT_EQ(g.control->Stop(), S_OK);
    upstream.join();
    EXPECT_TRUE(FAILED(pushed)) << std::hex << pushed;

    // Stop forgot the stream: a new run from the first sample gives every picture.
    g.sink->SetHold(false);
    ASSERT_EQ(g.control->Run(), S_OK);
    EXPECT_EQ(g.source->Output()->DeliverNewSegment(0, kBase * 100, 1.0), S_OK);
    ASSERT_EQ(PushSamples(g.source.Get(), 0, stream.samples.size()), S_OK);
    EXPECT_EQ(g.source->Output()->DeliverEndOfStream(), S_OK);
    ExpectFrames(g.sink.Get(), 0, 160, 90, "segment");
}

// Variants of a valid AVC type; each edits its copy.
struct InputCase {
    const char* name;
    void (*edit)(CMediaType* type, const Bytes& record);
    bool accepted;
};

void ToFormat(CMediaType* type, const GUID& format, const Bytes& record) {
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

BYTE* CodecDataOf(CMediaType* type) {
    return type->Format() + sizeof(VIDEOINFOHEADER);
}

const InputCase kInputCases[] = {
    {"IsoBox", [](CMediaType*, const Bytes&) {}, true},
    {"Avc1Box", [](CMediaType* t, const Bytes&) { t->SetSubtype(&kAvc1); }, true},
    {"VideoInfo2Record", [](CMediaType* t, const Bytes& r) { ToFormat(t, FORMAT_VideoInfo2, r); },
     true},
    {"Mpeg2VideoRecord",
     [](CMediaType* t, const Bytes& r) {
         t->SetSubtype(&kAvc1);
         ToFormat(t, FORMAT_MPEG2Video, r);
     },
     true},
    {"OtherSubtype",
     [](CMediaType* t, const Bytes&) {
         const GUID hevc = FourCCSubtype(MakeFourCC('H', 'V', 'C', '1'));
         t->SetSubtype(&hevc);
     },
     false},
    {"Wvc1Subtype",
     [](CMediaType* t, const Bytes&) {
         const GUID wvc1 = FourCCSubtype(MakeFourCC('W', 'V', 'C', '1'));
         t->SetSubtype(&wvc1);
     },
     false},
    {"RecordVersion0", [](CMediaType* t, const Bytes&) { CodecDataOf(t)[8] = 0; }, false},
    {"BoxLongerThanBlock", [](CMediaType* t, const Bytes&) { CodecDataOf(t)[2] = 1; }, false},
    {"NoCodecData",
     [](CMediaType* t, const Bytes&) {
         t->ReallocFormatBuffer(sizeof(VIDEOINFOHEADER));
         reinterpret_cast<VIDEOINFOHEADER*>(t->Format())->bmiHeader.biSize = 40;
     },
     false},
    {"NoWidth",
     [](CMediaType* t, const Bytes&) {
         reinterpret_cast<VIDEOINFOHEADER*>(t->Format())->bmiHeader.biWidth = 0;
     },
     false},
    {"AudioMajorType", [](CMediaType* t, const Bytes&) { t->SetType(&MEDIATYPE_Audio); }, false},
};

TEST(DecoderInput, AcceptsTheAvcFormsAndRefusesTheRest) {
    const Bytes& record = Stream().avcC;
    for (const InputCase& c : kInputCases) {
        SCOPED_TRACE(c.name);
        CMediaType type = AvcInputType(kAvc1Iso, record, kWidth, kHeight);
        c.edit(&type, record);
        Graph g(type, 1 << 20);
        ComPtr<IBaseFilter> decoder = Make(&CVideoDecoder::CreateAvc);
        g.graph->AddFilter(decoder.Get(), L"decoder");
        const HRESULT hr =
            g.graph->ConnectDirect(g.SourcePin(), PinOf(decoder.Get(), L"In").Get(), &type);
        ComPtr<IEnumMediaTypes> types;
        ASSERT_EQ(PinOf(decoder.Get(), L"Out")->EnumMediaTypes(types.Out()), S_OK);
        AM_MEDIA_TYPE* first = nullptr;
        ULONG fetched = 0;
        const HRESULT next = types->Next(1, &first, &fetched);
        if (!c.accepted) {
            EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
            EXPECT_EQ(next, S_FALSE) << "no output type without an input";
            continue;
        }
        ASSERT_EQ(hr, S_OK);
        ASSERT_EQ(next, S_OK);
        VideoPicture picture;
        ASSERT_TRUE(ReadVideoPicture(*first, &picture));
        EXPECT_EQ(first->subtype, FourCCSubtype(MakeFourCC('I', '4', '2', '0')));
        EXPECT_EQ(first->formattype, FORMAT_VideoInfo);
        EXPECT_EQ(picture.width, kWidth);
        EXPECT_EQ(picture.height, kHeight);
        DeleteMediaType(first);
    }
}

// The converter's output of one I420 picture in each subtype, against libswscale writing
// the layout the subtype means.
TEST(Converter, WritesEachSubtypeInItsLayoutWithTheSampleProperties) {
    Bytes i420(size_t(kWidth) * kHeight * 3 / 2);
    for (size_t i = 0; i < i420.size(); ++i)
        i420[i] =
            uint8_t(i < size_t(kWidth) * kHeight ? (i / kWidth) + (i % kWidth) / 4 : i * 7 / 5);
    CMediaType input;
    ASSERT_EQ(MakeVideoType(FourCCSubtype(MakeFourCC('I', '4', '2', '0')), kWidth, kHeight, kFrame,
                            false, &input),
              S_OK);
    struct Case {
        DWORD fourcc; // 0: RGB
        const GUID* rgb;
        AVPixelFormat format;
        bool swapChroma, bottomUp;
    };
    const Case cases[] = {
        {MakeFourCC('Y', 'U', 'Y', '2'), nullptr, AV_PIX_FMT_YUYV422, false, false},
        {MakeFourCC('U', 'Y', 'V', 'Y'), nullptr, AV_PIX_FMT_UYVY422, false, false},
        {MakeFourCC('Y', 'V', '1', '2'), nullptr, AV_PIX_FMT_YUV420P, true, false},
        {MakeFourCC('N', 'V', '1', '2'), nullptr, AV_PIX_FMT_NV12, false, false},
        {0, &MEDIASUBTYPE_RGB24, AV_PIX_FMT_BGR24, false, true},
        {0, &MEDIASUBTYPE_RGB32, AV_PIX_FMT_BGRA, false, true},
    };
    for (const Case& c : cases) {
        const GUID subtype = c.rgb != nullptr ? *c.rgb : FourCCSubtype(c.fourcc);
        SCOPED_TRACE(subtype.Data1);
        Graph g(input, LONG(i420.size()));
        ComPtr<IBaseFilter> converter = Make(&CVideoScaler::CreateConverter);
        g.graph->AddFilter(converter.Get(), L"converter");
        CMediaType output, larger;
        ASSERT_EQ(MakeVideoType(subtype, kWidth, kHeight, kFrame, false, &output), S_OK);
        ASSERT_EQ(MakeVideoType(subtype, kWidth * 2, kHeight, kFrame, false, &larger), S_OK);
        ASSERT_EQ(
            g.graph->ConnectDirect(g.SourcePin(), PinOf(converter.Get(), L"In").Get(), &input),
            S_OK);
        EXPECT_TRUE(FAILED(
            g.graph->ConnectDirect(PinOf(converter.Get(), L"Out").Get(), g.SinkPin(), &larger)))
            << "the converter keeps the size";
        ASSERT_EQ(
            g.graph->ConnectDirect(PinOf(converter.Get(), L"Out").Get(), g.SinkPin(), &output),
            S_OK);
        ASSERT_EQ(g.control->Run(), S_OK);
        ASSERT_EQ(g.source->Push(i420, 5, 7, false), S_OK);
        const std::vector<ReceivedFrame> frames = g.sink->Frames();
        ASSERT_EQ(frames.size(), 1u);
        EXPECT_EQ(frames[0].start, 5);
        EXPECT_EQ(frames[0].stop, 7);
        EXPECT_FALSE(frames[0].sync);

        // Reference: top-down planes in libavutil's order, then laid out as the subtype says.
        const int srcStride[4] = {kWidth, kWidth / 2, kWidth / 2, 0};
        const uint8_t* src[4] = {i420.data(), i420.data() + kWidth * kHeight,
                                 i420.data() + kWidth * kHeight * 5 / 4, nullptr};
        Bytes expected(frames[0].data.size());
        uint8_t* dst[4] = {};
        int dstStride[4] = {};
        ASSERT_GT(
            av_image_fill_arrays(dst, dstStride, expected.data(), c.format, kWidth, kHeight, 1), 0);
        if (c.format == AV_PIX_FMT_BGR24)
            dstStride[0] = (kWidth * 3 + 3) & ~3;
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
        EXPECT_GE(Psnr(frames[0].data, expected), 45.0);
    }
}

TEST(ProcessorFilters, DisplayNamesBindTheFiltersOfTheirCodecAndRole) {
    ASSERT_EQ(RegisterProcessorFilters(), S_OK);
    const CMediaType avc = AvcInputType(kAvc1Iso, Stream().avcC, kWidth, kHeight);
    const struct {
        const WCHAR* name;
        const GUID* clsid;
        bool takesAvc;
    } cases[] = {
        {kAvcDecoderDisplayName, &CLSID_KvssfAvcDecoder, true},
        {kWvc1DecoderDisplayName, &CLSID_KvssfWvc1Decoder, false},
        {kColorConverterDisplayName, &CLSID_KvssfColorConverter, false},
        {kResizerDisplayName, &CLSID_KvssfResizer, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.clsid->Data1);
        ComPtr<IBindCtx> context;
        ASSERT_EQ(CreateBindCtx(0, context.Out()), S_OK);
        ComPtr<IMoniker> moniker;
        ULONG eaten = 0;
        ASSERT_EQ(MkParseDisplayName(context.Get(), c.name, &eaten, moniker.Out()), S_OK);
        ComPtr<IBaseFilter> filter;
        ASSERT_EQ(moniker->BindToObject(context.Get(), nullptr, IID_IBaseFilter, filter.OutVoid()),
                  S_OK);
        CLSID clsid{};
        EXPECT_EQ(filter->GetClassID(&clsid), S_OK);
        EXPECT_EQ(clsid, *c.clsid);
        EXPECT_EQ(PinOf(filter.Get(), L"In")->QueryAccept(&avc), c.takesAvc ? S_OK : S_FALSE);
    }
}

} // namespace
