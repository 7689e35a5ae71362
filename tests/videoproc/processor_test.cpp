// The processor against pass-through stand-ins for its decoder, converter and resizer:
// the graph it builds, frames in order, the drain and rebuild of a type change, flushes,
// segments, failures to build and the states that refuse each operation.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/thread_count.h"
#include "tests/videoproc/fake_transform.h"
#include "tests/videoproc/processor_driver.h"
#include "videoproc/processor_source.h"

namespace {

using fakes::Settings;

constexpr GUID kH264 = {
    0x31637661, 0x5349, 0x4D4F, {0x45, 0x44, 0x49, 0x41, 0x54, 0x59, 0x50, 0x45}};
constexpr GUID kI420 = {0x30323449, 0, 0x10, {0x80, 0, 0, 0xaa, 0, 0x38, 0x9b, 0x71}};
constexpr GUID kWvc1 = {0x31435657, 0, 0x10, {0x80, 0, 0, 0xaa, 0, 0x38, 0x9b, 0x71}};
constexpr ALLOCATOR_PROPERTIES kInputBuffers = {1, 4096, 1, 0};

CMediaType VideoType(const GUID& subtype, LONG width, LONG height, WORD bits = 12) {
    CMediaType type(&MEDIATYPE_Video);
    type.SetSubtype(&subtype);
    type.SetFormatType(&FORMAT_VideoInfo);
    VIDEOINFOHEADER header{};
    header.AvgTimePerFrame = 400000;
    header.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    header.bmiHeader.biWidth = width;
    header.bmiHeader.biHeight = height;
    header.bmiHeader.biBitCount = bits;
    header.bmiHeader.biCompression = subtype.Data1;
    type.SetFormat(reinterpret_cast<const BYTE*>(&header), sizeof header);
    return type;
}

const CMediaType kOutput = VideoType(MEDIASUBTYPE_YUY2, 64, 32, 16);

const VIDEOINFOHEADER* Header(const CMediaType& type) {
    return reinterpret_cast<const VIDEOINFOHEADER*>(type.Format());
}

class Processor : public ::testing::Test {
protected:
    void SetUp() override { fakes::RegisterFakes(); }

    // Starts a processor for input at width x height, with the output above.
    HRESULT Start(CVideoProcessor& processor, const GUID& subtype = kH264, LONG width = 32) {
        const CMediaType input = VideoType(subtype, width, 16);
        EXPECT_EQ(processor.SetInputType(&input, &kInputBuffers), S_OK);
        EXPECT_EQ(processor.SetOutputType(&kOutput), S_OK);
        return processor.Start();
    }
    HRESULT Start() { return Start(m_processor); }
    LONG State() {
        LONG state = -1;
        EXPECT_EQ(m_processor.GetState(&state), S_OK);
        return state;
    }
    HRESULT Feed(const std::string& text, REFERENCE_TIME start) {
        return ::Feed(m_processor, text.data(), text.size(), start, start + 10);
    }
    std::string TakeText() {
        OutSample sample;
        const HRESULT hr = Take(m_processor, &sample);
        return hr == S_OK ? sample.Text() + "@" + std::to_string(sample.Start())
                          : "hr " + std::to_string(hr);
    }

    CVideoProcessor m_processor;
};

TEST_F(Processor, Graph_DecodesConvertsAndScalesFramesInOrderToTheEnd) {
    Settings(fakes::Decoder).Offered = VideoType(kI420, 32, 16);
    ASSERT_EQ(Start(), S_OK);
    EXPECT_EQ(State(), CVideoProcessor::Running);
    for (const auto& [text, start] :
         {std::pair<std::string, REFERENCE_TIME>{"a", 0}, {"b", 10}, {"c", 20}})
        ASSERT_EQ(Feed(text, start), S_OK);
    EXPECT_EQ(TakeText(), "a@0");
    EXPECT_EQ(TakeText(), "b@10");
    EXPECT_EQ(m_processor.EndOfInput(), S_OK);
    EXPECT_EQ(State(), CVideoProcessor::InputEnded);
    EXPECT_EQ(TakeText(), "c@20");
    OutSample end;
    EXPECT_EQ(Take(m_processor, &end), S_FALSE);
    EXPECT_EQ(State(), CVideoProcessor::OutputEnded);
    EXPECT_EQ(m_processor.GetOutputSample(end.Get()), S_FALSE);
    EXPECT_EQ(Settings(fakes::Resizer).Received, 3);
}

// The resizer gets the output subtype at the decoded size, through a converter only
// when the decoder cannot give that subtype.
TEST_F(Processor, Graph_ConverterOnlyWhenTheDecoderCannotGiveTheOutputSubtype) {
    for (const GUID& offered : {kI420, MEDIASUBTYPE_YUY2}) {
        fakes::RegisterFakes();
        Settings(fakes::Decoder).Offered = VideoType(offered, 40, 16);
        CVideoProcessor processor;
        ASSERT_EQ(Start(processor), S_OK);
        const bool converted = offered == kI420;
        EXPECT_EQ(Settings(fakes::Converter).Input.subtype, converted ? kI420 : GUID_NULL);
        const CMediaType& resizerInput = Settings(fakes::Resizer).Input;
        EXPECT_EQ(resizerInput.subtype, MEDIASUBTYPE_YUY2);
        ASSERT_NE(Header(resizerInput), nullptr);
        EXPECT_EQ(Header(resizerInput)->bmiHeader.biWidth, 40);
        if (converted) {
            const BITMAPINFOHEADER& bitmap = Header(resizerInput)->bmiHeader;
            EXPECT_EQ(bitmap.biBitCount, 16);
            EXPECT_EQ(bitmap.biCompression, MEDIASUBTYPE_YUY2.Data1);
            EXPECT_EQ(bitmap.biSizeImage, 40u * 2 * 16);
            EXPECT_EQ(resizerInput.lSampleSize, 40u * 2 * 16);
            EXPECT_EQ(Header(resizerInput)->dwBitRate, 40u * 2 * 16 * 8 * 25);
        }
    }
}

TEST_F(Processor, Start_FailsWithTheBuildsResultAndStaysStopped) {
    struct Case {
        GUID input;
        std::vector<GUID> decoderAccepts;
        HRESULT expected;
    };
    for (const Case& c : {Case{MEDIASUBTYPE_YUY2, {}, E_FAIL}, Case{kWvc1, {}, MK_E_NOOBJECT},
                          Case{kH264, {kWvc1}, VFW_E_TYPE_NOT_ACCEPTED}}) {
        fakes::RegisterFakes();
        Settings(fakes::Decoder).Accepted = c.decoderAccepts;
        CVideoProcessor processor;
        EXPECT_EQ(Start(processor, c.input), c.expected);
        LONG state = -1;
        processor.GetState(&state);
        EXPECT_EQ(state, CVideoProcessor::Stopped);
        OutSample sample;
        EXPECT_EQ(processor.GetOutputSample(sample.Get()), E_UNEXPECTED);
    }
}

TEST_F(Processor, TypeChange_DrainsTheOldGraphThenRebuildsForTheNewTypeAndSegment) {
    ASSERT_EQ(Start(), S_OK);
    ASSERT_EQ(m_processor.SetSegment(15, 100, 1.0), S_OK);
    ASSERT_EQ(Feed("a1", 15), S_OK);
    ASSERT_EQ(Feed("a2", 25), S_OK);
    const CMediaType wider = VideoType(kH264, 48, 16);
    EXPECT_EQ(m_processor.SetInputType(&wider, &kInputBuffers), S_OK);
    EXPECT_EQ(State(), CVideoProcessor::TypeChangePending);
    ComPtr<IMediaSample> refused;
    EXPECT_EQ(m_processor.GetInputSample(refused.Out()), VFW_E_WRONG_STATE);
    EXPECT_EQ(m_processor.SetSegment(0, 100, 1.0), VFW_E_WRONG_STATE);

    EXPECT_EQ(TakeText(), "a1@15");
    EXPECT_EQ(TakeText(), "a2@25");
    // The end marker comes out: the graph is rebuilt and has no frame yet.
    OutSample sample;
    HRESULT hr = E_PENDING;
    for (int tries = 0; hr == E_PENDING && State() != CVideoProcessor::Running && tries < 100;
         ++tries)
        if ((hr = m_processor.GetOutputSample(sample.Get())) == E_PENDING)
            m_processor.WaitForProgress(50);
    EXPECT_EQ(hr, E_PENDING);
    EXPECT_EQ(State(), CVideoProcessor::Running);
    EXPECT_EQ(Settings(fakes::Decoder).Created, 2);
    ASSERT_NE(Header(Settings(fakes::Resizer).Input), nullptr);
    EXPECT_EQ(Header(Settings(fakes::Resizer).Input)->bmiHeader.biWidth, 48);

    // The new graph has the segment: a frame before its start is not even queued.
    Settings(fakes::Resizer).Received = 0;
    ASSERT_EQ(Feed("b0", 12), S_OK);
    while (Settings(fakes::Resizer).Received == 0)
        m_processor.WaitForProgress(50);
    EXPECT_EQ(m_processor.GetOutputSample(sample.Get()), E_PENDING);
    EXPECT_EQ(sample.Text(), "");
    ASSERT_EQ(Feed("b1", 30), S_OK);
    EXPECT_EQ(TakeText(), "b1@30");
}

TEST_F(Processor, Flush_DropsWhatIsUnderWayAndResumes) {
    ASSERT_EQ(Start(), S_OK);
    ASSERT_EQ(Feed("old", 0), S_OK);
    ASSERT_TRUE(Settings(fakes::Resizer).Received == 1 || m_processor.WaitForProgress(5000));
    EXPECT_EQ(m_processor.Flush(), S_OK);
    OutSample sample;
    EXPECT_EQ(m_processor.GetOutputSample(sample.Get()), E_PENDING);
    ASSERT_EQ(Feed("new", 30), S_OK);
    EXPECT_EQ(TakeText(), "new@30");

    // From the end of the output too.
    ASSERT_EQ(m_processor.EndOfInput(), S_OK);
    EXPECT_EQ(Take(m_processor, &sample), S_FALSE);
    EXPECT_EQ(m_processor.Flush(), S_OK);
    EXPECT_EQ(State(), CVideoProcessor::Running);
    ASSERT_EQ(Feed("again", 40), S_OK);
    EXPECT_EQ(TakeText(), "again@40");
}

TEST_F(Processor, Segment_AFrameBeforeItsStartIsCopiedButAnsweredPending) {
    ASSERT_EQ(Start(), S_OK);
    ASSERT_EQ(Feed("early", 5), S_OK);
    while (Settings(fakes::Resizer).Received == 0)
        m_processor.WaitForProgress(50);
    EXPECT_EQ(m_processor.SetSegment(10, 100, 1.0), S_OK);
    OutSample sample;
    HRESULT hr = E_PENDING;
    for (int tries = 0; sample.Text().empty() && tries < 100; ++tries)
        if ((hr = m_processor.GetOutputSample(sample.Get())) == E_PENDING && sample.Text().empty())
            m_processor.WaitForProgress(50);
    EXPECT_EQ(hr, E_PENDING);
    EXPECT_EQ(sample.Text(), "early");
    // The segment reached the sink: an earlier frame no longer queues.
    ASSERT_EQ(Feed("late", 8), S_OK);
    ASSERT_EQ(Feed("kept", 12), S_OK);
    EXPECT_EQ(TakeText(), "kept@12");
}

TEST_F(Processor, States_RefuseWhatTheyDoNotAllow) {
    OutSample sample;
    ComPtr<IMediaSample> buffer;
    const CMediaType input = VideoType(kH264, 32, 16);
    EXPECT_EQ(m_processor.GetInputSample(buffer.Out()), VFW_E_WRONG_STATE);
    EXPECT_EQ(m_processor.DeliverInputSample(sample.Get()), VFW_E_WRONG_STATE);
    EXPECT_EQ(m_processor.EndOfInput(), VFW_E_WRONG_STATE);
    EXPECT_EQ(m_processor.SetSegment(0, 1, 1.0), VFW_E_WRONG_STATE);
    EXPECT_EQ(m_processor.Flush(), VFW_E_WRONG_STATE);
    EXPECT_EQ(m_processor.GetOutputSample(sample.Get()), E_UNEXPECTED);
    EXPECT_EQ(m_processor.GetOutputSample(nullptr), E_POINTER);
    EXPECT_EQ(m_processor.GetState(nullptr), E_POINTER);

    ASSERT_EQ(Start(), S_OK);
    EXPECT_EQ(m_processor.SetOutputType(&kOutput), VFW_E_WRONG_STATE);
    ASSERT_EQ(m_processor.EndOfInput(), S_OK);
    EXPECT_EQ(m_processor.SetSegment(0, 1, 1.0), VFW_E_WRONG_STATE);
    EXPECT_EQ(m_processor.SetInputType(&input, &kInputBuffers), VFW_E_WRONG_STATE);
    EXPECT_EQ(m_processor.Stop(), S_OK);
    EXPECT_EQ(State(), CVideoProcessor::Stopped);
    EXPECT_EQ(m_processor.GetOutputSample(sample.Get()), E_UNEXPECTED);
}

TEST(ProcessorSource, OffersAndAcceptsOnlyTheInputType) {
    CVideoProcessor processor;
    const CMediaType input = VideoType(kH264, 32, 16);
    ASSERT_EQ(processor.SetInputType(&input, &kInputBuffers), S_OK);
    HRESULT hr = S_OK;
    ComPtr<CVideoProcessorSource> source(new CVideoProcessorSource(&processor, &hr));
    ASSERT_EQ(source->GetPinCount(), 1);
    EXPECT_EQ(source->GetPin(1), nullptr);
    CVideoProcessorSourcePin* pin = source->Pin();
    ASSERT_NE(pin, nullptr);
    const CMediaType other = VideoType(kWvc1, 32, 16);
    EXPECT_EQ(pin->CheckMediaType(&input), S_OK);
    EXPECT_EQ(pin->CheckMediaType(&other), S_FALSE);
    CMediaType offered;
    EXPECT_EQ(pin->GetMediaType(0, &offered), S_OK);
    EXPECT_TRUE(offered == input);
    EXPECT_EQ(pin->GetMediaType(1, &offered), VFW_S_NO_MORE_ITEMS);
}

TEST(ProcessorLifetime, DestroyingARunningProcessorLeavesNoThread) {
    fakes::RegisterFakes();
    const CMediaType input = VideoType(kH264, 32, 16);
    auto run = [&](int* during) {
        CVideoProcessor processor;
        ASSERT_EQ(processor.SetInputType(&input, &kInputBuffers), S_OK);
        ASSERT_EQ(processor.SetOutputType(&kOutput), S_OK);
        ASSERT_EQ(processor.Start(), S_OK);
        *during = ThreadCount();
    };
    // A first run lets runtimes that start threads lazily (a sanitizer's) start them.
    int during = 0;
    run(&during);
    const int before = ThreadCount();
    run(&during);
    EXPECT_GT(during, before);
    EXPECT_EQ(ThreadCount(), before);
}

} // namespace
