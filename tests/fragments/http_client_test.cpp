#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "fragments/http_client.h"
#include "tests/support/origin.h"
#include "tests/support/temp_directory.h"

namespace {

// The whole body of url through one client, or the first failure.
HRESULT Fetch(const std::string& url, DWORD* status, std::string* body) {
    CHttpClient client("KVSsfRd/1.0");
    std::string path;
    HRESULT hr = client.Open(url.c_str(), &path);
    if (FAILED(hr))
        return hr;
    if (FAILED(hr = client.SendRequest(path.c_str(), nullptr)))
        return hr;
    if (FAILED(hr = client.GetStatusCode(status)))
        return hr;
    body->clear();
    char buffer[700];
    DWORD count = 0;
    while ((hr = client.Read(buffer, sizeof(buffer), &count)) == S_OK)
        body->append(buffer, count);
    return hr;
}

// The fault server's /big body: bytes 0..250 repeated.
std::string BigBody() {
    std::string body(3 * 1024 * 1024 + 7, '\0');
    for (size_t i = 0; i < body.size(); ++i)
        body[i] = char(i % 251);
    return body;
}

std::string Replace(std::string url, const std::string& from, const std::string& to) {
    return url.replace(0, from.size(), to);
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
    std::string viaScheme;
    ASSERT_EQ(Fetch(Replace(base, "http", "KvSsF") + "echo?tag=request", &status, &viaScheme),
              S_FALSE);
    EXPECT_EQ(status, 200u);
    EXPECT_EQ(viaScheme.rfind("GET /echo?tag=request HTTP/1.0\n", 0), 0u) << viaScheme;
}

TEST(HttpClient, Statuses_ReportedAsReceivedAndRedirectsNotFollowed) {
    std::string base = OriginUrl("faults");
    ASSERT_FALSE(base.empty());
    for (DWORD code : {301u, 302u, 401u, 404u, 500u}) {
        DWORD status = 0;
        std::string body;
        ASSERT_EQ(Fetch(base + "status/" + std::to_string(code) + "?tag=redirect", &status, &body),
                  S_FALSE)
            << code;
        EXPECT_EQ(status, code);
    }
    DWORD status = 0;
    std::string count;
    ASSERT_EQ(Fetch(base + "count?tag=redirect", &status, &count), S_FALSE);
    EXPECT_EQ(count, "5") << "a redirect was followed";
}

TEST(HttpClient, Transport_ClosedPortAndUntrustedCertificateFail) {
    std::string tls = OriginUrl("tls");
    ASSERT_FALSE(tls.empty());
    DWORD status = 0;
    std::string body;
    // Port 1 on the loopback has no listener.
    EXPECT_EQ(Fetch("http://127.0.0.1:1/x", &status, &body), HRESULT(0x80072EFD));
    // The test server's certificate is self-signed: https and kvssfs both verify it.
    const char* bundle = std::getenv("CURL_CA_BUNDLE");
    std::string saved = bundle ? bundle : "";
    SetEnvironment("CURL_CA_BUNDLE", "");
    EXPECT_EQ(Fetch(tls + "echo", &status, &body), HRESULT(0x80072F0D));
    EXPECT_EQ(Fetch(Replace(tls, "https", "kvssfs") + "echo", &status, &body), HRESULT(0x80072F0D));
    SetEnvironment("CURL_CA_BUNDLE", saved);
}

} // namespace

// Reads smaller and larger than the blocks the transport receives: every byte comes once,
// in order, whatever the reader's buffer.
TEST(HttpClient, Read_AnyBufferSize_WholeBodyInOrder) {
    const std::string base = OriginUrl("faults");
    ASSERT_FALSE(base.empty());
    const std::string expected = BigBody();
    for (DWORD size : {13u, 700u, 16384u, 65537u, 1u << 20}) {
        CHttpClient client("KVSsfRd/1.0");
        std::string path;
        ASSERT_EQ(client.Open((base + "big").c_str(), &path), S_OK);
        ASSERT_EQ(client.SendRequest(path.c_str(), nullptr), S_OK);
        std::string buffer(size, '\0'), body;
        DWORD count = 0;
        HRESULT hr;
        while ((hr = client.Read(&buffer[0], size, &count)) == S_OK) {
            ASSERT_GT(count, 0u) << size;
            ASSERT_LE(count, size);
            body.append(buffer.data(), count);
        }
        EXPECT_EQ(hr, S_FALSE) << size;
        EXPECT_EQ(count, 0u) << size;
        EXPECT_TRUE(body == expected) << size << ": " << body.size() << " bytes";
    }
}
