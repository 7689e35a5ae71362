// The trace line of a failed download: the manifest's at load, a fragment's at fill.
#include <gtest/gtest.h>

#include <string>

#include "manifest/failure_trace.h"
#include "manifest/manifest.h"
#include "tests/framework/trace/trace_fixture.h"

namespace {

class FailureTraceTest : public TraceFileTest {
protected:
    // What was traced since the last call.
    std::string Traced() {
        KTraceRelease();
        std::string text = TraceText();
        std::filesystem::remove(m_file);
        return text;
    }
};

TEST_F(FailureTraceTest, TraceDownloadFailure_OneLineWithStatusCodeNameAndUrl) {
    g_dwKTraceSwitch = KTRACE_ON | KTRACE_FILE;
    const struct {
        DWORD Status;
        HRESULT Result;
        const char* Expected; // after "\r\nKVSsfRd: chunk 3 failed: "
    } cases[] = {
        {503, HRESULT(0x80070002),
         "HTTP 503, 0x80070002 HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) - The system cannot find "
         "the file specified, http://h/f"},
        {0, HRESULT(0x12345678), "no HTTP status, 0x12345678 0x12345678, http://h/f"},
    };
    for (const auto& c : cases) {
        TraceDownloadFailure("chunk 3", c.Result, c.Status, "http://h/f");
        EXPECT_EQ(Traced(), std::string("\r\nKVSsfRd: chunk 3 failed: ") + c.Expected);
    }
    g_dwKTraceSwitch = KTRACE_FILE;
    TraceDownloadFailure("chunk 3", E_FAIL, 404, "http://h/f");
    KTraceRelease();
    EXPECT_FALSE(std::filesystem::exists(m_file)) << "traced while the trace is off";
}

TEST_F(FailureTraceTest, Load_RefusedConnection_TracesTheManifestUrl) {
    g_dwKTraceSwitch = KTRACE_ON | KTRACE_FILE;
    CSSFManifest manifest;
    const std::string url = "http://127.0.0.1:1/p.ism/Manifest";
    const HRESULT hr = manifest.Load(url.c_str());
    ASSERT_TRUE(FAILED(hr));
    EXPECT_EQ(manifest.DownloadFailure.Result, hr);
    EXPECT_EQ(manifest.DownloadFailure.Url, url);
    const std::string text = Traced();
    EXPECT_EQ(text.rfind("\r\nKVSsfRd: manifest failed: no HTTP status, 0x", 0), 0u) << text;
    EXPECT_EQ(text.size() - text.rfind(", " + url), url.size() + 2) << text;
}

} // namespace
