// The Windows trace backend: the named block through which a process's modules share one
// writer.
#include <gtest/gtest.h>

#include <string>

#include "framework/trace/trace_writer.h"
#include "tests/framework/trace/trace_fixture.h"

namespace {

using TraceWin32Test = TraceFileTest;

// The writer pointer in the process's block for the current trace file; null when no
// block exists.
CTraceWriter* WriterInBlock(bool* blockExists) {
    const std::wstring name = TraceSharedBlockName(GetCurrentProcessId(), g_wszKTraceFile);
    HANDLE mapping = OpenFileMappingW(FILE_MAP_READ, FALSE, name.c_str());
    *blockExists = mapping != nullptr;
    if (!mapping)
        return nullptr;
    auto* block = static_cast<TraceSharedBlock*>(
        MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, sizeof(TraceSharedBlock)));
    CTraceWriter* writer = block ? block->Writer.load() : nullptr;
    if (block)
        UnmapViewOfFile(block);
    CloseHandle(mapping);
    return writer;
}

TEST_F(TraceWin32Test, SharedBlock_WhileAttached_HoldsTheWriterUntilTheLastRelease) {
    g_dwKTraceSwitch = KTRACE_ON | KTRACE_FILE;
    KTraceAndFlush("\nattached");
    bool exists = false;
    EXPECT_NE(nullptr, WriterInBlock(&exists));
    EXPECT_TRUE(exists);

    // Keep the block alive past the release so its cleared pointer can be seen.
    const std::wstring name = TraceSharedBlockName(GetCurrentProcessId(), g_wszKTraceFile);
    HANDLE keep = OpenFileMappingW(FILE_MAP_READ, FALSE, name.c_str());
    ASSERT_NE(nullptr, keep);
    KTraceRelease();
    EXPECT_EQ(nullptr, WriterInBlock(&exists));
    EXPECT_TRUE(exists);
    CloseHandle(keep);
}

} // namespace
