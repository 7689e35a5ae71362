#include <gtest/gtest.h>

#include <string>

#include "fragments/http_client.h"
#include "tests/support/origin.h"

namespace {

// The whole body of url through one client, read size bytes at a time, or the first failure.
HRESULT Fetch(const std::string& url, DWORD* status, std::string* body, DWORD size = 700) {
    CHttpClient client("KVSsfRd/1.0");
    std::string path, buffer(size, '\0');
    HRESULT hr = client.Open(url.c_str(), &path);
    if (SUCCEEDED(hr))
        hr = client.SendRequest(path.c_str(), nullptr);
    if (SUCCEEDED(hr))
        hr = client.GetStatusCode(status);
    body->clear();
    DWORD count = 0;
    while (SUCCEEDED(hr) && (hr = client.Read(&buffer[0], size, &count)) == S_OK) {
        EXPECT_TRUE(count > 0 && count <= size) << count << " of " << size;
        body->append(buffer.data(), count);
    }
    EXPECT_TRUE(hr != S_FALSE || count == 0) << url;
    return hr;
}

TEST(HttpClient, Request_Http10GetWithUserAgentAndQuery) {
    std::string base = OriginUrl("faults");
    ASSERT_FALSE(base.empty());
    DWORD status = 0;
    std::string body;
    ASSERT_EQ(Fetch(base + "echo?tag=request&x=1", &status, &body), S_FALSE);
    EXPECT_EQ(status, 200u);
    EXPECT_EQ(body.rfind("GET /echo?tag=request&x=1 HTTP/1.0\n", 0), 0u) << body;
    EXPECT_NE(body.find("User-Agent: KVSsfRd/1.0\n"), std::string::npos) << body;
    EXPECT_EQ(body.find("Cookie"), std::string::npos) << body;

    // The filter's scheme is fetched as plain HTTP on the given port.
    ASSERT_EQ(Fetch("KvSsF" + base.substr(4) + "echo?tag=request", &status, &body), S_FALSE);
    EXPECT_EQ(status, 200u);
    EXPECT_EQ(body.rfind("GET /echo?tag=request HTTP/1.0\n", 0), 0u) << body;
}

TEST(HttpClient, Statuses_ReportedAsReceivedAndRedirectsNotFollowed) {
    std::string base = OriginUrl("faults");
    ASSERT_FALSE(base.empty());
    DWORD status = 0;
    std::string body;
    for (DWORD code : {301u, 302u, 401u, 404u, 500u}) {
        ASSERT_EQ(Fetch(base + "status/" + std::to_string(code) + "?tag=redirect", &status, &body),
                  S_FALSE)
            << code;
        EXPECT_EQ(status, code);
    }
    ASSERT_EQ(Fetch(base + "count?tag=redirect", &status, &body), S_FALSE);
    EXPECT_EQ(body, "5") << "a redirect was followed";
}

// Reads smaller and larger than the blocks the transport receives: every byte comes once,
// in order, whatever the reader's buffer.
TEST(HttpClient, Read_AnyBufferSize_WholeBodyInOrder) {
    const std::string base = OriginUrl("faults");
    ASSERT_FALSE(base.empty());
    std::string expected(3 * 1024 * 1024 + 7, '\0'); // /big: bytes 0..250 repeated
    for (size_t i = 0; i < expected.size(); ++i)
        expected[i] = char(i % 251);
    for (DWORD size : {13u, 700u, 16384u, 65537u, 1u << 20}) {
        DWORD status = 0;
        std::string body;
        EXPECT_EQ(Fetch(base + "big", &status, &body, size), S_FALSE) << size;
        EXPECT_TRUE(body == expected) << size << ": " << body.size() << " bytes";
    }
}

} // namespace
