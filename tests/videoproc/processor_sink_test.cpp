// The processor's sink: frames from the segment start on, copied out in order with their
// properties and the data they arrived with, the end marker, a short buffer and a flush.
#include <gtest/gtest.h>

#include "tests/videoproc/processor_driver.h"
#include "videoproc/processor_sink.h"

namespace {

TEST(ProcessorSink, Frames_FromTheSegmentStartInOrderThenTheEnd) {
    HRESULT hr = S_OK;
    ComPtr<CVideoProcessorSink> sink(new CVideoProcessorSink(nullptr, &hr));
    auto* pin = static_cast<CVideoProcessorSinkPin*>(sink->GetPin(0));
    ASSERT_NE(pin, nullptr);
    EXPECT_EQ(pin->NewSegment(100, 1000, 1.0), S_OK);
    OutSample out(8), early(8, "early", 99), first(8, "first", 100), big(9, "too big", 120),
        last(4, "last", 140);
    LONGLONG mediaStart = 5, mediaStop = 6;
    last.Get()->SetMediaTime(&mediaStart, &mediaStop);
    for (OutSample* frame : {&early, &first, &big, &last})
        EXPECT_EQ(pin->Receive(frame->Get()), S_OK);
    EXPECT_EQ(pin->EndOfStream(), S_OK);
    // An upstream filter that resets a sample it delivered does not cut the frame short.
    last.Get()->SetActualDataLength(0);

    ASSERT_EQ(pin->TakeFrame(out.Get()), S_OK);
    EXPECT_EQ(out.Text(), "first");
    EXPECT_EQ(pin->TakeFrame(out.Get()), E_FAIL) << "a frame in a larger buffer";
    ASSERT_EQ(pin->TakeFrame(out.Get()), S_OK);
    EXPECT_EQ(out.Text(), "last");
    EXPECT_EQ(out.Get()->GetMediaTime(&mediaStart, &mediaStop), S_OK);
    EXPECT_EQ(mediaStart, 5);
    EXPECT_EQ(pin->TakeFrame(out.Get()), S_FALSE);
    EXPECT_EQ(pin->TakeFrame(out.Get()), E_PENDING);

    // A flush drops what is queued, the end marker included, and what arrives during it.
    EXPECT_EQ(pin->Receive(first.Get()), S_OK);
    EXPECT_EQ(pin->EndOfStream(), S_OK);
    EXPECT_EQ(pin->BeginFlush(), S_OK);
    EXPECT_EQ(pin->Receive(first.Get()), S_OK);
    EXPECT_EQ(pin->TakeFrame(out.Get()), E_PENDING);
}

} // namespace
