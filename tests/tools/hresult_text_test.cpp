// The wording of codes whose meaning depends on where they were met and on the
// temporary directory.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/temp_directory.h"
#include "tools/common/hresult_text.h"

namespace {

struct Case {
    uint32_t Code;
    FailurePlace Place;
    const char* Url;
    const char* Expected; // the text after "0x........: "
};

TEST(DescribeHresult, WordingByPlaceAndScheme) {
    ScopedTempDirectory temp;
    const std::string disk = "the disk is full (temporary files go to " + temp.Path() + "/)";
    const Case cases[] = {
        {0x80072EE6, FailurePlace::Load, "kvssfs://h/p.ism/Manifest",
         "the server's reply is not HTTP"},
        {0x80072EE6, FailurePlace::Load, "HTTP://h/p.ism/Manifest",
         "the server's reply is not HTTP"},
        {0x80072EE6, FailurePlace::Load, "gopher://h/p.ism/Manifest",
         "the URL scheme is not supported"},
        {0x80072EE6, FailurePlace::Stream, "", "the server's reply is not HTTP"},
        {0x80072EE6, FailurePlace::Anywhere, "", "the URL scheme is not supported"},
        {0x80004005, FailurePlace::Stream, "", "a fragment is corrupt: its boxes cannot be parsed"},
        {0x80004005, FailurePlace::Load, "http://h/x", "failure (unsupported URL or presentation)"},
        {0x80070026, FailurePlace::Stream, "",
         "a fragment is corrupt: its samples run past the end of its data"},
        {0x80070026, FailurePlace::Anywhere, "", "unexpected end of file"},
        {0x80070002, FailurePlace::Load, "http://h/x",
         "the server answered with a status other than 200 (not found, redirected or server "
         "error)"},
        {0x80070070, FailurePlace::Stream, "", disk.c_str()},
        {0x80070027, FailurePlace::Anywhere, "", disk.c_str()},
        {0x80040265, FailurePlace::Load, "http://h/x",
         "not a Smooth Streaming manifest (no SmoothStreamingMedia element with audio or video "
         "streams)"},
    };
    for (const Case& c : cases) {
        char code[16];
        std::snprintf(code, sizeof code, "0x%08X", c.Code);
        EXPECT_EQ(DescribeHresult(HRESULT(c.Code), c.Place, c.Url),
                  std::string(code) + ": " + c.Expected)
            << code << " " << c.Url;
    }
}

TEST(DescribeHresult, MissingTemporaryDirectoryIsNamedWhateverThePlace) {
    ScopedTempDirectory temp;
    const std::string missing = temp.Path() + "/gone";
    SetEnvironment("TMPDIR", missing);
    for (uint32_t code : {0x80070002u, 0x80070003u, 0x8007010Bu}) {
        const std::string text = DescribeHresult(HRESULT(code), FailurePlace::Load, "http://h/x");
        EXPECT_NE(text.find("the temporary directory " + missing + "/ does not exist"),
                  std::string::npos)
            << text;
    }
}

// Statuses without a reason phrase still name themselves; 3xx always reads as a redirect
// not followed; no status, or 200, leaves the HRESULT's words alone.
TEST(DescribeDownloadFailure, StatusBeforeTheHresultsWords) {
    ScopedTempDirectory temp;
    const std::string notFound = DescribeHresult(HRESULT(0x80070002), FailurePlace::Stream, "");
    const struct {
        DWORD Status;
        std::string Expected;
    } cases[] = {
        {418, "HTTP 418 (" + notFound + ")"},
        {399, "HTTP 399, a redirect that is not followed (" + notFound + ")"},
        {308, "HTTP 308 Permanent Redirect, a redirect that is not followed (" + notFound + ")"},
        {200, notFound},
        {0, notFound},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DescribeDownloadFailure(HRESULT(0x80070002), c.Status, FailurePlace::Stream, ""),
                  c.Expected);
}

} // namespace
