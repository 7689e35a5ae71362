// The processor in Wine's filter graph with the stand-ins registered in the prefix (the
// FFmpeg-backed decoder and converter, the resizer DMO in the system's DMO wrapper): the
// private graph it builds, frames through it, a type change, a flush and a decoder that
// cannot be bound. Clips: H.264 Annex B files the test fixture encodes into
// KVSSF_MEDIA_DIR.
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "framework/com_ptr.h"
#include "tests/videoproc/avc_units.h"
#include "tests/videoproc/processor_driver.h"
#include "tests/wine/standins/standins.h"
#include "videoproc/processor_filters.h"

extern "C" {
#include <dmodshow.h>
}

namespace {

constexpr REFERENCE_TIME kFrame = 400000;
constexpr LONG kOutWidth = 80, kOutHeight = 48;
constexpr ALLOCATOR_PROPERTIES kInputBuffers = {1, 1 << 16, 1, 0};
// What a frame is taken into: Wine's DMO wrapper allocates more than a frame this small,
// and a frame in a larger buffer than the caller's is refused.
constexpr LONG kTakeBuffer = 1 << 16;

struct Clip : avc::Clip { // no B-frames: decode order = display order
    CMediaType type;
};

// A clip of the fixture's: "<width>x<height>.h264".
Clip LoadClip(LONG width, LONG height) {
    const char* dir = std::getenv("KVSSF_MEDIA_DIR");
    Clip clip;
    static_cast<avc::Clip&>(clip) =
        avc::ReadClip(std::string(dir ? dir : ".") + "\\" + std::to_string(width) + "x" +
                      std::to_string(height) + ".h264");
    if (!clip.record.empty())
        clip.type = avc::InputType(clip.record, kSubtypeAvc1Iso, width, height, kFrame);
    return clip;
}

CMediaType Yuy2(LONG width, LONG height) {
    CMediaType type(&MEDIATYPE_Video);
    type.SetSubtype(&MEDIASUBTYPE_YUY2);
    type.SetFormatType(&FORMAT_VideoInfo);
    type.SetSampleSize(ULONG(width * height * 2));
    VIDEOINFOHEADER header{};
    header.AvgTimePerFrame = kFrame;
    header.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    header.bmiHeader.biWidth = width;
    header.bmiHeader.biHeight = height;
    header.bmiHeader.biPlanes = 1;
    header.bmiHeader.biBitCount = 16;
    header.bmiHeader.biCompression = MEDIASUBTYPE_YUY2.Data1;
    header.bmiHeader.biSizeImage = DWORD(width * height * 2);
    type.SetFormat(reinterpret_cast<const BYTE*>(&header), sizeof header);
    return type;
}

std::string FilterName(IBaseFilter* filter) {
    FILTER_INFO info = {};
    if (filter == nullptr || FAILED(filter->QueryFilterInfo(&info)))
        return "?";
    ComPtr<IFilterGraph>::Adopt(info.pGraph).Reset();
    std::string name;
    for (const WCHAR* c = info.achName; *c; ++c)
        name += char(*c);
    return name;
}

ComPtr<IPin> PinOf(IBaseFilter* filter, PIN_DIRECTION direction) {
    ComPtr<IEnumPins> pins;
    ComPtr<IPin> pin;
    if (SUCCEEDED(filter->EnumPins(pins.Out())))
        while (pins->Next(1, pin.Out(), nullptr) == S_OK) {
            PIN_DIRECTION dir;
            if (SUCCEEDED(pin->QueryDirection(&dir)) && dir == direction)
                return pin;
        }
    return {};
}

// "WxH subtype-FourCC" of a connection's type.
std::string Describe(const AM_MEDIA_TYPE& type) {
    if (type.formattype != FORMAT_VideoInfo || type.cbFormat < sizeof(VIDEOINFOHEADER))
        return "not VIDEOINFOHEADER";
    const auto* header = reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat);
    const DWORD code = type.subtype.Data1;
    return std::to_string(header->bmiHeader.biWidth) + "x" +
           std::to_string(header->bmiHeader.biHeight) + " " + char(code) + char(code >> 8) +
           char(code >> 16) + char(code >> 24);
}

struct Chain {
    std::set<std::string> inGraph; // every filter's name
    std::vector<std::string> path; // from the source along the connections: name [type]
    CLSID resizerClass = GUID_NULL;
};

// The processor's private graph, found through the stand-in decoder that joined it.
Chain ReadGraph() {
    Chain chain;
    HMODULE module = GetModuleHandleW(kStandInsModule);
    auto graphOf = module ? reinterpret_cast<StandInDecoderGraphFn>(reinterpret_cast<void*>(
                                GetProcAddress(module, kStandInDecoderGraph)))
                          : nullptr;
    ComPtr<IFilterGraph> graph;
    if (graphOf == nullptr || graphOf(graph.Out()) != S_OK)
        return chain;
    ComPtr<IEnumFilters> filters;
    ComPtr<IBaseFilter> filter, source;
    graph->EnumFilters(filters.Out());
    while (filters && filters->Next(1, filter.Out(), nullptr) == S_OK) {
        chain.inGraph.insert(FilterName(filter.Get()));
        if (FilterName(filter.Get()) == "SSF Video Processor Source")
            source = filter;
        if (FilterName(filter.Get()) == "SSF Video Processor Resizer")
            filter->GetClassID(&chain.resizerClass);
    }
    for (ComPtr<IBaseFilter> at = source; at;) {
        chain.path.push_back(FilterName(at.Get()));
        const ComPtr<IPin> out = PinOf(at.Get(), PINDIR_OUTPUT);
        ComPtr<IPin> peer;
        AM_MEDIA_TYPE type = {};
        if (!out || out->ConnectedTo(peer.Out()) != S_OK || FAILED(out->ConnectionMediaType(&type)))
            break;
        if (type.subtype != kSubtypeAvc1Iso)
            chain.path.back() += " [" + Describe(type) + "]";
        FreeMediaType(type);
        PIN_INFO info = {};
        peer->QueryPinInfo(&info);
        at = ComPtr<IBaseFilter>::Adopt(info.pFilter);
    }
    return chain;
}

class WineProcessor : public ::testing::Test {
protected:
    void SetUp() override {
        m_large = LoadClip(96, 64);
        m_small = LoadClip(64, 48);
        ASSERT_GE(m_large.samples.size(), 12u) << "no clip: run the test's fixture";
        ASSERT_GE(m_small.samples.size(), 12u);
    }
    HRESULT Start(CVideoProcessor& processor, const Clip& clip) {
        const CMediaType output = Yuy2(kOutWidth, kOutHeight);
        EXPECT_EQ(processor.SetInputType(&clip.type, &kInputBuffers), S_OK);
        EXPECT_EQ(processor.SetOutputType(&output), S_OK);
        return processor.Start();
    }
    // Feeds samples first..last-1 of clip stamped from base on, taking the frames that
    // are ready after each (the processor holds only a few) into m_frames.
    void FeedClip(CVideoProcessor& processor, const Clip& clip, size_t first, size_t last,
                  REFERENCE_TIME base) {
        for (size_t i = first; i < last; ++i) {
            const REFERENCE_TIME start = base + REFERENCE_TIME(i) * kFrame;
            ASSERT_EQ(::Feed(processor, clip.samples[i].data(), clip.samples[i].size(), start,
                             start + kFrame, clip.sync[i]),
                      S_OK)
                << i;
            for (OutSample sample(kTakeBuffer); processor.GetOutputSample(sample.Get()) == S_OK;)
                m_frames.push_back(Describe(sample));
        }
    }
    // Takes the remaining frames up to the end of the output.
    void TakeToTheEnd(CVideoProcessor& processor) {
        for (size_t guard = 0; guard < 100; ++guard) {
            OutSample sample(kTakeBuffer);
            const HRESULT hr = Take(processor, &sample);
            if (hr != S_OK) {
                EXPECT_EQ(hr, S_FALSE);
                return;
            }
            m_frames.push_back(Describe(sample));
        }
    }
    // "start size" of a frame.
    static std::string Describe(OutSample& sample) {
        return std::to_string(sample.Times().first) + " " + std::to_string(sample.Data().size());
    }
    static std::string Frame(REFERENCE_TIME start) {
        return std::to_string(start) + " " + std::to_string(kOutWidth * kOutHeight * 2);
    }

    // The frames "start size" with the times expected at first..last-1 from base on.
    static std::vector<std::string> Frames(size_t first, size_t last, REFERENCE_TIME base = 0) {
        std::vector<std::string> frames;
        for (size_t i = first; i < last; ++i)
            frames.push_back(Frame(base + REFERENCE_TIME(i) * kFrame));
        return frames;
    }

    Clip m_large, m_small;
    std::vector<std::string> m_frames;
};

TEST_F(WineProcessor, Graph_ChainsTheStandInsAndDeliversEveryFrameAtTheOutputSize) {
    CVideoProcessor processor;
    ASSERT_EQ(Start(processor, m_large), S_OK);
    const Chain chain = ReadGraph();
    // The decoder gives I420 only: the converter turns it into YUY2 at the decoded size,
    // the resizer (a DMO in the system's wrapper) scales that to the output.
    EXPECT_EQ(chain.path, (std::vector<std::string>{
                              "SSF Video Processor Source",
                              "SSF Video Processor AVC Decoder [96x64 I420]",
                              "SSF Video Processor Color Converter [96x64 YUY2]",
                              "SSF Video Processor Resizer [80x48 YUY2]",
                              "SSF Video Processor Sink",
                          }));
    EXPECT_EQ(chain.inGraph.size(), 5u);
    EXPECT_EQ(chain.resizerClass, CLSID_DMOWrapperFilter);

    FeedClip(processor, m_large, 0, m_large.samples.size(), 0);
    ASSERT_EQ(processor.EndOfInput(), S_OK);
    TakeToTheEnd(processor);
    EXPECT_EQ(m_frames, Frames(0, m_large.samples.size()));
    EXPECT_EQ(processor.Stop(), S_OK);
}

TEST_F(WineProcessor, TypeChange_DrainsTheOldGraphAndRebuildsForTheNewSize) {
    CVideoProcessor processor;
    ASSERT_EQ(Start(processor, m_large), S_OK);
    const size_t before = 6; // one IDR period of the large clip
    FeedClip(processor, m_large, 0, before, 0);
    ASSERT_EQ(processor.SetInputType(&m_small.type, &kInputBuffers), S_OK);
    LONG state = -1;
    processor.GetState(&state);
    EXPECT_EQ(state, CVideoProcessor::TypeChangePending);

    // Every frame of the old type comes out before the graph is rebuilt.
    while (m_frames.size() < before) {
        OutSample sample(kTakeBuffer);
        ASSERT_EQ(Take(processor, &sample), S_OK);
        m_frames.push_back(Describe(sample));
    }
    EXPECT_EQ(m_frames, Frames(0, before));
    // The end marker behind them rebuilds the graph, which has no frame yet.
    for (int i = 0; i < 100 && state == CVideoProcessor::TypeChangePending; ++i) {
        OutSample none(kTakeBuffer);
        ASSERT_EQ(processor.GetOutputSample(none.Get()), E_PENDING);
        processor.WaitForProgress(50);
        processor.GetState(&state);
    }
    EXPECT_EQ(state, CVideoProcessor::Running);
    const Chain chain = ReadGraph();
    ASSERT_EQ(chain.path.size(), 5u);
    EXPECT_EQ(chain.path[1], "SSF Video Processor AVC Decoder [64x48 I420]");
    EXPECT_EQ(chain.path[3], "SSF Video Processor Resizer [80x48 YUY2]");
    EXPECT_EQ(chain.inGraph.size(), 5u);

    m_frames.clear();
    const REFERENCE_TIME base = REFERENCE_TIME(before) * kFrame;
    FeedClip(processor, m_small, 0, 6, base);
    ASSERT_EQ(processor.EndOfInput(), S_OK);
    TakeToTheEnd(processor);
    EXPECT_EQ(m_frames, Frames(0, 6, base));
}

TEST_F(WineProcessor, Flush_DropsWhatWasQueuedAndDecodesFromTheNextKeyFrame) {
    CVideoProcessor processor;
    ASSERT_EQ(Start(processor, m_large), S_OK);
    FeedClip(processor, m_large, 0, 4, 0);
    ASSERT_EQ(processor.Flush(), S_OK);
    LONG state = -1;
    processor.GetState(&state);
    EXPECT_EQ(state, CVideoProcessor::Running);

    // After the flush the stream restarts at the second key frame; nothing queued before
    // it comes out.
    m_frames.clear();
    const REFERENCE_TIME restart = 100 * kFrame;
    FeedClip(processor, m_large, 6, 12, restart);
    ASSERT_EQ(processor.EndOfInput(), S_OK);
    TakeToTheEnd(processor);
    EXPECT_EQ(m_frames, Frames(6, 12, restart));
}

// The AVC decoder's filter-category entry removed for the test, then put back by the
// stand-ins' own registration.
class WithoutDecoder {
public:
    WithoutDecoder() {
        CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                         m_mapper.OutVoid());
        if (m_mapper)
            m_removed = SUCCEEDED(m_mapper->UnregisterFilter(&CLSID_LegacyAmFilterCategory, nullptr,
                                                             CLSID_StandInAvcDecoder));
    }
    ~WithoutDecoder() {
        HMODULE module = LoadLibraryW(kStandInsModule);
        auto reg = module ? reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(reinterpret_cast<void*>(
                                GetProcAddress(module, "DllRegisterServer")))
                          : nullptr;
        EXPECT_TRUE(reg != nullptr && SUCCEEDED(reg())) << "the stand-ins are not registered";
        if (module)
            FreeLibrary(module);
    }
    bool Removed() const { return m_removed; }

private:
    ComPtr<IFilterMapper2> m_mapper;
    bool m_removed = false;
};

TEST_F(WineProcessor, Start_WithoutTheDecoderFailsWithTheBindsResult) {
    WithoutDecoder missing;
    ASSERT_TRUE(missing.Removed());
    ComPtr<IBindCtx> context;
    ASSERT_EQ(CreateBindCtx(0, context.Out()), S_OK);
    ComPtr<IMoniker> moniker;
    ComPtr<IBaseFilter> filter;
    ULONG eaten = 0;
    HRESULT bind = MkParseDisplayName(context.Get(), kAvcDecoderDisplayName, &eaten, moniker.Out());
    if (SUCCEEDED(bind))
        bind = moniker->BindToObject(context.Get(), nullptr, IID_IBaseFilter, filter.OutVoid());
    ASSERT_TRUE(FAILED(bind)) << std::hex << bind;

    CVideoProcessor processor;
    EXPECT_EQ(Start(processor, m_large), bind);
    LONG state = -1;
    processor.GetState(&state);
    EXPECT_EQ(state, CVideoProcessor::Stopped);
}

} // namespace
