#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fragments/http_file.h"
#include "tests/support/failing_allocation.h"
#include "tests/support/origin.h"
#include "tests/support/temp_directory.h"

namespace {

std::string ReadAll(CHttpFile* file) {
    std::string body;
    char buffer[4096];
    size_t count = 0;
    while (file->Read(buffer, sizeof(buffer), &count) == S_OK && count > 0)
        body.append(buffer, count);
    return body;
}

std::string ReadDisk(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void ExpectClosed(const CHttpFile& file) {
    EXPECT_EQ(file.Stream, nullptr);
}

TEST(HttpFile, Download_BodyEqualsServedFileAndGoesWithItsStream) {
    std::string base = OriginUrl("nginx");
    ASSERT_FALSE(base.empty());
    std::string expected = ReadDisk(OriginPath("www/media/vod/pres.ism/Manifest"));
    ASSERT_FALSE(expected.empty());

    ScopedTempDirectory temp;
    CHttpFile file;
    ASSERT_EQ(file.Download((base + "media/vod/pres.ism/Manifest").c_str()), S_OK);
    int64_t position = -1;
    EXPECT_EQ(file.Tell(&position), S_OK);
    EXPECT_EQ(position, 0);
    int64_t length = 0;
    EXPECT_EQ(file.GetLength(&length), S_OK);
    EXPECT_EQ(length, int64_t(expected.size()));
    EXPECT_EQ(ReadAll(&file), expected);
    EXPECT_EQ(file.GetFailure().Result, S_OK);
    EXPECT_EQ(temp.LeftoverCount(), 1u);

    EXPECT_EQ(file.Close(), S_OK);
    ExpectClosed(file);
    EXPECT_EQ(temp.LeftoverCount(), 0u);
}

TEST(HttpFile, Download_NextDownloadRemovesThePreviousBody) {
    std::string base = OriginUrl("faults");
    ASSERT_FALSE(base.empty());
    ScopedTempDirectory temp;
    CHttpFile file;
    ASSERT_EQ(file.Download((base + "big").c_str()), S_OK);
    int64_t length = 0;
    EXPECT_EQ(file.GetLength(&length), S_OK);
    EXPECT_EQ(length, 3 * 1024 * 1024 + 7);
    std::string body = ReadAll(&file);
    ASSERT_EQ(body.size(), size_t(length));
    size_t wrong = 0;
    for (size_t i = 0; i < body.size(); ++i)
        wrong += (unsigned char)body[i] != i % 251;
    EXPECT_EQ(wrong, 0u);

    ASSERT_EQ(file.Download((base + "empty").c_str()), S_OK);
    EXPECT_EQ(temp.LeftoverCount(), 1u) << "the previous body outlived its download";
    EXPECT_EQ(file.GetLength(&length), S_OK);
    EXPECT_EQ(length, 0);
    file.Close();
    EXPECT_EQ(temp.LeftoverCount(), 0u);
}

TEST(HttpFile, Statuses_401IsAccessDeniedOthersAreFileNotFound) {
    std::string base = OriginUrl("faults");
    ASSERT_FALSE(base.empty());
    CHttpFile file;
    ASSERT_EQ(file.Download((base + "empty").c_str()), S_OK);
    for (const char* path :
         {"status/401", "status/404", "status/302", "status/500", "status/204"}) {
        const bool denied = std::string(path) == "status/401";
        const HRESULT expected = denied ? E_ACCESSDENIED : HRESULT(0x80070002);
        EXPECT_EQ(file.Download((base + path).c_str()), expected) << path;
        ExpectClosed(file);
    }
}

TEST(HttpFile, Faults_BrokenTransfersFailAndLeaveNoFile) {
    std::string base = OriginUrl("faults");
    ASSERT_FALSE(base.empty());
    ScopedTempDirectory temp;
    CHttpFile file;
    HRESULT hr = file.Download((base + "drop").c_str());
    EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
    ExpectClosed(file);

    // A body cut short of its Content-Length (every attempt).
    EXPECT_EQ(file.Download((base + "truncated").c_str()), HRESULT(0x80072EFE));
    ExpectClosed(file);

    EXPECT_EQ(file.Download("not a url"), HRESULT(0x80072EE5));
    ExpectClosed(file);
    EXPECT_TRUE(FAILED(file.Download("kvssf://")));
    ExpectClosed(file);
    EXPECT_EQ(file.Download("http://127.0.0.1:1/"), HRESULT(0x80072EFD));
    FailNothrowAllocationAfter(0);
    EXPECT_EQ(file.Download((base + "big").c_str()), E_OUTOFMEMORY);
    ExpectClosed(file);
    EXPECT_EQ(temp.LeftoverCount(), 0u) << "a failed download left a file in " << temp.Path();
}

TEST(HttpFile, Tls_TrustedCertificateDownloadsWithVerificationOn) {
    std::string tls = OriginUrl("tls");
    ASSERT_FALSE(tls.empty());
    const char* bundle = std::getenv("CURL_CA_BUNDLE");
    if (!bundle || !*bundle)
        GTEST_SKIP() << "the platform's own certificate store does not trust the test CA";
    CHttpFile file;
    ASSERT_EQ(file.Download((tls + "big").c_str()), S_OK);
    int64_t length = 0;
    EXPECT_EQ(file.GetLength(&length), S_OK);
    EXPECT_EQ(length, 3 * 1024 * 1024 + 7);
    std::string viaScheme = "kvssfs" + tls.substr(5);
    EXPECT_EQ(file.Download((viaScheme + "empty").c_str()), S_OK);
    // The same server under a name its certificate does not carry.
    std::string other = tls;
    other.replace(other.find("localhost"), 9, "127.0.0.2");
    EXPECT_TRUE(FAILED(file.Download((other + "empty").c_str())));
}

TEST(HttpFile, Stream_ReadExactFailsAtEndWhereReadIsShort) {
    std::string base = OriginUrl("faults");
    ASSERT_FALSE(base.empty());
    CHttpFile file;
    ASSERT_EQ(file.Download((base + "echo").c_str()), S_OK);
    int64_t length = 0;
    ASSERT_EQ(file.GetLength(&length), S_OK);
    ASSERT_GT(length, 10);

    std::vector<char> buffer(size_t(length) + 10);
    EXPECT_EQ(file.Seek(-10, 2), S_OK);
    EXPECT_EQ(file.ReadExact(buffer.data(), 11), HRESULT(0x80070026));
    EXPECT_EQ(file.Seek(-10, 2), S_OK);
    size_t count = 0;
    EXPECT_EQ(file.Read(buffer.data(), 11, &count), S_OK);
    EXPECT_EQ(count, 10u);

    EXPECT_EQ(file.Seek(4, 0), S_OK);
    EXPECT_EQ(file.ReadExact(buffer.data(), 3), S_OK);
    EXPECT_EQ(std::string(buffer.data(), 3), "/ec");
    int64_t position = 0;
    EXPECT_EQ(file.Tell(&position), S_OK);
    EXPECT_EQ(position, 7);

    // The body can be amended in place, as a fragment's owner does.
    EXPECT_EQ(file.Seek(0, 2), S_OK);
    size_t written = 0;
    EXPECT_EQ(file.Write("tail", 4, &written), S_OK);
    EXPECT_EQ(written, 4u);
    EXPECT_EQ(file.Flush(), S_OK);
    EXPECT_EQ(file.GetLength(&position), S_OK);
    EXPECT_EQ(position, length + 4);
}

} // namespace
