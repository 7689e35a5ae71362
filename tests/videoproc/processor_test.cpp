// The processor against pass-through stand-ins for its decoder, converter and resizer: the
// graph, frames in order, type changes, flushes, segments, failed builds and refusals.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>

#include "tests/support/thread_count.h"
#include "tests/videoproc/avc_units.h"
#include "tests/videoproc/fake_transform.h"
#include "tests/videoproc/processor_driver.h"
#include "videoproc/processor_source.h"

namespace {

using fakes::Picture;
using fakes::Settings;

const GUID kI420 = FourCCSubtype(MakeFourCC('I', '4', '2', '0')),
           kWvc1 = FourCCSubtype(MakeFourCC('W', 'V', 'C', '1'));
constexpr ALLOCATOR_PROPERTIES kInputBuffers = {1, 4096, 1, 0};

// Compressed input at width x 16; the stand-ins look at nothing but the subtype.
CMediaType Input(const GUID& subtype = kSubtypeAvc1Iso, LONG width = 32) {
    return avc::InputType({}, subtype, width, 16, 400000);
}

const CMediaType kInput = Input(), kOutput = Picture(MEDIASUBTYPE_YUY2, 64, 32);

const VIDEOINFOHEADER& Header(const CMediaType& type) {
    return *reinterpret_cast<const VIDEOINFOHEADER*>(type.Format());
}

class Processor : public ::testing::Test {
protected:
    void SetUp() override { fakes::UseFakes(); }
    HRESULT Start(const GUID& subtype = kSubtypeAvc1Iso) {
        const CMediaType input = Input(subtype);
        EXPECT_EQ(m_processor->SetInputType(&input, &kInputBuffers), S_OK);
        EXPECT_EQ(m_processor->SetOutputType(&kOutput), S_OK);
        return m_processor->Start();
    }
    LONG State() {
        LONG state = -1;
        EXPECT_EQ(m_processor->GetState(&state), S_OK);
        return state;
    }
    HRESULT Feed(const std::string& text, REFERENCE_TIME start) {
        return ::Feed(*m_processor, text.data(), text.size(), start, start + 10);
    }
    // The next frame as "text@start", or the result that ended the wait.
    std::string TakeText() {
        OutSample sample;
        const HRESULT hr = Take(*m_processor, &sample);
        return hr == S_OK ? sample.Text() + "@" + std::to_string(sample.Times().first)
                          : "hr " + std::to_string(hr);
    }
    // Feeds text and waits until role has passed it on or held it.
    void FeedThrough(const std::string& text, REFERENCE_TIME start,
                     fakes::Role role = fakes::Resizer) {
        ASSERT_EQ(Feed(text, start), S_OK);
        for (int tries = 0; Settings(role).Passed != start && tries < 200; ++tries)
            m_processor->WaitForProgress(50);
        ASSERT_EQ(Settings(role).Passed, start) << text;
    }

    std::optional<CVideoProcessor> m_processor{std::in_place};
    OutSample m_sample;
};

// The resizer gets the output subtype at the decoded size, through a converter only when the
// decoder cannot give that subtype; frames come out in order, then the end; destroying the
// running processor leaves no thread (after a first run, lazily started ones are there).
TEST_F(Processor, Graph_FramesInOrderThroughAConverterOnlyWhenNeededAndNoThreadLeft) {
    int before = 0, during = 0;
    for (const GUID& offered : {kI420, MEDIASUBTYPE_YUY2}) {
        before = ThreadCount();
        m_processor.emplace();
        fakes::UseFakes();
        Settings(fakes::Decoder).Offered = Picture(offered, 40, 16);
        ASSERT_EQ(Start(), S_OK);
        during = ThreadCount();
        // The converter's rewritten type, or the decoder's YUY2 one as it is (no bit rate).
        const bool converted = offered == kI420;
        EXPECT_EQ(Settings(fakes::Converter).Input.subtype, converted ? kI420 : GUID_NULL);
        const CMediaType& resized = Settings(fakes::Resizer).Input;
        const BITMAPINFOHEADER& bitmap = Header(resized).bmiHeader;
        EXPECT_EQ(resized.subtype, MEDIASUBTYPE_YUY2);
        EXPECT_EQ(std::make_tuple(bitmap.biWidth, bitmap.biBitCount, bitmap.biCompression,
                                  bitmap.biSizeImage, resized.lSampleSize,
                                  Header(resized).dwBitRate),
                  std::make_tuple(40, 16, MEDIASUBTYPE_YUY2.Data1, 40u * 2 * 16, 40u * 2 * 16,
                                  converted ? 40u * 2 * 16 * 8 * 25 : 0u));
        ASSERT_EQ(Feed("a", 0), S_OK);
        ASSERT_EQ(Feed("b", 10), S_OK);
        EXPECT_EQ(TakeText(), "a@0");
        ASSERT_EQ(m_processor->EndOfInput(), S_OK);
        EXPECT_EQ(TakeText(), "b@10");
        EXPECT_EQ(TakeText(), "hr 1"); // S_FALSE: the end
        m_processor.reset();
    }
    EXPECT_GT(during, before);
    EXPECT_EQ(ThreadCount(), before);
}

// A failed build leaves the processor stopped, without a sink to take frames from; each
// state refuses what it does not allow; the source pin has the input type alone.
TEST_F(Processor, States_RefuseWhatTheyDoNotAllowAndAFailedStartStaysStopped) {
    for (const auto& [input, expected] :
         {std::make_pair(MEDIASUBTYPE_YUY2, E_FAIL), std::make_pair(kWvc1, MK_E_NOOBJECT)}) {
        EXPECT_EQ(Start(input), expected);
        EXPECT_EQ(State(), CVideoProcessor::Stopped);
        EXPECT_EQ(m_processor->GetOutputSample(m_sample.Get()), E_UNEXPECTED);
    }
    ComPtr<IMediaSample> buffer;
    EXPECT_EQ(m_processor->GetInputSample(buffer.Out()), VFW_E_WRONG_STATE);
    EXPECT_EQ(m_processor->DeliverInputSample(m_sample.Get()), VFW_E_WRONG_STATE);
    EXPECT_EQ(m_processor->EndOfInput(), VFW_E_WRONG_STATE);
    EXPECT_EQ(m_processor->SetSegment(0, 1, 1.0), VFW_E_WRONG_STATE);
    EXPECT_EQ(m_processor->Flush(), VFW_E_WRONG_STATE);
    EXPECT_EQ(m_processor->GetOutputSample(nullptr), E_POINTER);

    ASSERT_EQ(Start(), S_OK);
    EXPECT_EQ(m_processor->SetOutputType(&kOutput), VFW_E_WRONG_STATE);
    ASSERT_EQ(m_processor->EndOfInput(), S_OK);
    EXPECT_EQ(m_processor->SetSegment(0, 1, 1.0), VFW_E_WRONG_STATE);
    EXPECT_EQ(m_processor->SetInputType(&kInput, &kInputBuffers), VFW_E_WRONG_STATE);
    EXPECT_EQ(m_processor->Stop(), S_OK);
    EXPECT_EQ(State(), CVideoProcessor::Stopped);
    EXPECT_EQ(m_processor->GetOutputSample(m_sample.Get()), E_UNEXPECTED);

    // The source pin offers and accepts the input type alone.
    HRESULT hr = S_OK;
    ComPtr<CVideoProcessorSource> source(new CVideoProcessorSource(&*m_processor, &hr));
    CVideoProcessorSourcePin* pin = source->Pin();
    ASSERT_NE(pin, nullptr);
    const CMediaType other = Input(kWvc1);
    EXPECT_EQ(std::make_pair(pin->CheckMediaType(&kInput), pin->CheckMediaType(&other)),
              std::make_pair(S_OK, S_FALSE));
    CMediaType offered;
    EXPECT_EQ(pin->GetMediaType(0, &offered), S_OK);
    EXPECT_TRUE(offered == kInput);
    EXPECT_EQ(pin->GetMediaType(1, &offered), VFW_S_NO_MORE_ITEMS);
}

TEST_F(Processor, TypeChange_DrainsTheOldGraphThenRebuildsForTheNewTypeAndSegment) {
    ASSERT_EQ(Start(), S_OK);
    ASSERT_EQ(m_processor->SetSegment(15, 100, 1.0), S_OK);
    ASSERT_EQ(Feed("a1", 15), S_OK);
    const CMediaType wider = Input(kSubtypeAvc1Iso, 48);
    EXPECT_EQ(m_processor->SetInputType(&wider, &kInputBuffers), S_OK);
    EXPECT_EQ(State(), CVideoProcessor::TypeChangePending);
    EXPECT_EQ(m_processor->DeliverInputSample(m_sample.Get()), VFW_E_WRONG_STATE);
    EXPECT_EQ(m_processor->SetSegment(0, 100, 1.0), VFW_E_WRONG_STATE);
    EXPECT_EQ(TakeText(), "a1@15");

    // The end marker comes out: the graph is rebuilt and has no frame yet.
    HRESULT hr = E_PENDING;
    for (int tries = 0; State() != CVideoProcessor::Running && tries < 100; ++tries)
        if ((hr = m_processor->GetOutputSample(m_sample.Get())) == E_PENDING)
            m_processor->WaitForProgress(50);
    EXPECT_EQ(hr, E_PENDING);
    EXPECT_EQ(State(), CVideoProcessor::Running);
    EXPECT_EQ(Settings(fakes::Decoder).Created, 2);
    EXPECT_EQ(Header(Settings(fakes::Resizer).Input).bmiHeader.biWidth, 48);
    ComPtr<IEnumFilters> filters;
    ASSERT_EQ(Settings(fakes::Resizer).Graph->EnumFilters(filters.Out()), S_OK);
    int count = 0;
    for (ComPtr<IBaseFilter> filter; filters->Next(1, filter.Out(), nullptr) == S_OK;)
        ++count;
    EXPECT_EQ(count, 5) << "source, decoder, converter, resizer and sink alone";

    // The new graph has the segment: a frame before its start is not even queued.
    FeedThrough("b0", 12);
    EXPECT_EQ(m_processor->GetOutputSample(m_sample.Get()), E_PENDING);
    EXPECT_EQ(m_sample.Text(), "");
    ASSERT_EQ(Feed("b1", 30), S_OK);
    EXPECT_EQ(TakeText(), "b1@30");
}

// A frame queued before the segment arrived is copied out but answered E_PENDING; a flush drops
// what is under way and resumes, from the end of the output too. An end marker queued behind
// a sample the decoder holds goes before that sample's drop wakes the upstream thread.
TEST_F(Processor, SegmentAndFlush_DropWhatCameBefore) {
    ASSERT_EQ(Start(), S_OK);
    FeedThrough("early", 5);
    EXPECT_EQ(m_processor->SetSegment(10, 100, 1.0), S_OK);
    EXPECT_EQ(m_processor->GetOutputSample(m_sample.Get()), E_PENDING);
    EXPECT_EQ(m_sample.Text(), "early");
    // The segment reached the sink: an earlier frame no longer queues.
    ASSERT_EQ(Feed("late", 8), S_OK);
    ASSERT_EQ(Feed("kept", 12), S_OK);
    EXPECT_EQ(TakeText(), "kept@12");

    FeedThrough("old", 20);
    Settings(fakes::Decoder).Hold = true;
    Settings(fakes::Decoder).FlushPauseMs = 200;
    FeedThrough("held", 25, fakes::Decoder);
    ASSERT_EQ(m_processor->EndOfInput(), S_OK);
    EXPECT_EQ(m_processor->Flush(), S_OK);
    Settings(fakes::Decoder).Hold = false;
    EXPECT_EQ(m_processor->GetOutputSample(m_sample.Get()), E_PENDING);
    ASSERT_EQ(Feed("new", 30), S_OK);
    EXPECT_EQ(TakeText(), "new@30");
    ASSERT_EQ(m_processor->EndOfInput(), S_OK);
    EXPECT_EQ(TakeText(), "hr 1");
    EXPECT_EQ(m_processor->Flush(), S_OK);
    ASSERT_EQ(Feed("again", 40), S_OK);
    EXPECT_EQ(TakeText(), "again@40");
}

} // namespace
