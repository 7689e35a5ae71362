// The switch word the product ships with, linked from the core: no call leaves a trace.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/framework/trace/trace_fixture.h"

namespace {

using TraceShippedTest = TraceFileTest;

TEST_F(TraceShippedTest, AllCalls_ShippedSwitchWord_NothingWrittenAndNamesEmpty) {
    ASSERT_EQ(DWORD(KVSSF_TRACE_SWITCH), g_dwKTraceSwitch);
    if (g_dwKTraceSwitch != 0x10)
        GTEST_SKIP() << "built with another switch word";
    const BYTE bytes[] = {0x41, 0x42};
    testing::internal::CaptureStderr();
    KTrace("\nline %d", 1);
    KTraceBytes("\nbytes", bytes, sizeof(bytes));
    KTraceLibraryError("error %s", "text");
    KTraceAndFlush("\nflushed");
    KTraceRelease();
    EXPECT_EQ("", testing::internal::GetCapturedStderr());
    EXPECT_EQ(0u, m_dir.FileCount());
    EXPECT_STREQ("", KTraceErrorName(E_FAIL));
    EXPECT_STREQ("", KTraceErrorName(HRESULT(0x80072714)));
    EXPECT_STREQ("", KTraceErrorName(0x12345678));
}

} // namespace
