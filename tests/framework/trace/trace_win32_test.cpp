// The Windows trace backend: the named block through which a process's modules share one
// writer, and the table rows against the SDK's own constants.
#include <gtest/gtest.h>

#include <string>

#include "framework/trace/trace_writer.h"
#include "tests/framework/trace/trace_fixture.h"

// After the platform headers they need.
#include <delayimp.h>
#include <nserror.h>
#include <urlmon.h>

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

TEST_F(TraceWin32Test, KTraceErrorName_SdkConstants_RowsOfTheirNames) {
    g_dwKTraceSwitch = KTRACE_ON;
    const struct {
        HRESULT Code;
        const char* Name;
    } known[] = {
        {RPC_E_TIMEOUT, "RPC_E_TIMEOUT"},
        {MK_S_ASYNCHRONOUS, "MK_S_ASYNCHRONOUS"},
        {MK_E_UNAVAILABLE, "MK_E_UNAVAILABLE"},
        {VFW_E_SAMPLE_REJECTED, "VFW_E_SAMPLE_REJECTED"},
        {VFW_E_SAMPLE_REJECTED_EOS, "VFW_E_SAMPLE_REJECTED_EOS"},
        {VFW_E_INVALID_MEDIA_TYPE, "VFW_E_INVALID_MEDIA_TYPE"},
        {HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION),
         "HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION)"},
        {HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS), "HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS)"},
        {HRESULT_FROM_WIN32(ERROR_NOACCESS), "HRESULT_FROM_WIN32(ERROR_NOACCESS)"},
        {NS_E_CONNECTION_FAILURE, "NS_E_CONNECTION_FAILURE"},
        {NS_E_INVALID_REQUEST, "NS_E_INVALID_REQUEST"},
        {NS_E_INVALID_DATA, "NS_E_INVALID_DATA"},
        {NS_E_INVALID_STREAM, "NS_E_INVALID_STREAM"},
        {NS_E_LICENSE_REQUIRED, "NS_E_LICENSE_REQUIRED"},
        {NS_E_INVALID_PUSH_PUBLISHING_POINT, "NS_E_INVALID_PUSH_PUBLISHING_POINT"},
        {NS_E_DRM_DEBUGGING_NOT_ALLOWED, "NS_E_DRM_DEBUGGING_NOT_ALLOWED"},
        {NS_E_INTERNAL_SERVER_ERROR, "NS_E_INTERNAL_SERVER_ERROR"},
        {NS_E_SERVER_UNAVAILABLE, "NS_E_SERVER_UNAVAILABLE"},
        {NS_E_REFUSED_BY_SERVER, "NS_E_REFUSED_BY_SERVER"},
        {NS_E_INCOMPATIBLE_SERVER, "NS_E_INCOMPATIBLE_SERVER"},
        {NS_E_PUSH_CANNOTCONNECT, "NS_E_PUSH_CANNOTCONNECT"},
        {NS_E_INCOMPATIBLE_PUSH_SERVER, "NS_E_INCOMPATIBLE_PUSH_SERVER"},
        {HRESULT(VcppException(ERROR_SEVERITY_ERROR, ERROR_MOD_NOT_FOUND)), "VcppException"},
        {HRESULT(VcppException(ERROR_SEVERITY_ERROR, ERROR_PROC_NOT_FOUND)), "VcppException"},
    };
    for (const auto& code : known) {
        const std::string name = KTraceErrorName(code.Code);
        EXPECT_EQ(0u, name.rfind(code.Name, 0)) << code.Name << ": " << name;
    }
}

} // namespace
