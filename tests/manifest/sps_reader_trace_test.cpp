// What the H.264 SPS reader writes to the trace: its decoder object's creation and release,
// and its allocation failures.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "manifest/h264/sps_reader.h"
#include "tests/framework/trace/trace_fixture.h"
#include "tests/support/failing_allocation.h"

namespace {

// Baseline 320x240 codec private data: SPS, then PPS.
const std::vector<BYTE> kCodecPrivateData = {
    0x00, 0x00, 0x00, 0x01, 0x67, 0x42, 0xc0, 0x0d, 0xd9, 0x01, 0x41, 0xfb, 0x01,
    0x10, 0x00, 0x00, 0x03, 0x00, 0x10, 0x00, 0x00, 0x03, 0x03, 0x20, 0xf1, 0x42,
    0xa4, 0x80, 0x00, 0x00, 0x00, 0x01, 0x68, 0xcb, 0x83, 0xcb, 0x20};

const std::string kCreated = "\r\nH264StaticLib.K264_CreateDecoderObject() ";
const std::string kFreed = "\r\nH264StaticLib.K264_FreeDecoderObject() ";

class SpsReaderTraceTest : public TraceFileTest {
protected:
    // Reads the SPS with the n-th nothrow allocation failing (-1: none) and returns what
    // was traced meanwhile.
    std::string TracedWhileReading(int failingAllocation) {
        KTraceRelease();
        std::filesystem::remove(m_file);
        SpsInfo info{};
        FailNothrowAllocationAfter(failingAllocation);
        ReadSequenceParameterSet(&info, kCodecPrivateData.data(), kCodecPrivateData.size());
        FailNothrowAllocationAfter(-1);
        KTraceRelease();
        return TraceText();
    }
};

// Allocation failures are reported as library errors between the two.
TEST_F(SpsReaderTraceTest, ReadSequenceParameterSet_DecoderCreatedAndFreed) {
    g_dwKTraceSwitch = KTRACE_ON | KTRACE_FILE;
    EXPECT_EQ(kCreated + kFreed, TracedWhileReading(-1));
    // The NAL unit, its payload and the decoder come first; then the partition, its stream
    // buffer and the SPS structure.
    const std::string failures[] = {"AllocPartition: Memory allocation for Data Partition failed",
                                    "AllocPartition: Memory allocation for streamBuffer failed",
                                    "Could not allocate memory: AllocSPS: SPS"};
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(kCreated + "---------------------- " + failures[i] + "\r\n" + kFreed,
                  TracedWhileReading(3 + i));
}

} // namespace
