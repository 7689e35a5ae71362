// The POSIX trace backend: the default file in the temporary directory, standard error as
// the debugger output.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/framework/trace/trace_fixture.h"

namespace {

using TracePosixTest = TraceFileTest;

TEST_F(TracePosixTest, KTrace_EmptyPath_FileInTheTemporaryDirectory) {
    g_wszKTraceFile[0] = L'\0';
    g_dwKTraceSwitch = KTRACE_ON | KTRACE_FILE;
    KTraceAndFlush("\ndefault");
    const std::filesystem::path expected = std::filesystem::path(m_dir.Path()) / "KorvelTrace.txt";
    EXPECT_EQ(kByteOrderMark + "\r\ndefault", ReadFileBytes(expected));
    EXPECT_EQ(expected.wstring(), std::wstring(g_wszKTraceFile));
}

TEST_F(TracePosixTest, KTrace_DebuggerBitOnly_LineOnStandardErrorAndNoFile) {
    g_dwKTraceSwitch = KTRACE_ON | KTRACE_DEBUGGER | KTRACE_THREAD_ID;
    testing::internal::CaptureStderr();
    KTrace("\nto the debugger %d", 7);
    KTraceAndFlush(" and more");
    const std::string output = testing::internal::GetCapturedStderr();
    EXPECT_EQ(0u, m_dir.FileCount());
    EXPECT_TRUE(MatchesShape(output, "\r\n~~~~~~~~: to the debugger 7 and more")) << output;
}

} // namespace
