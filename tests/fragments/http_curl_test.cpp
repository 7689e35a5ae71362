// The libcurl backend's own rules.
#include <gtest/gtest.h>

#include <string>

#include "fragments/http_client.h"
#include "tests/support/origin.h"
#include "tests/support/temp_directory.h"

namespace {

// Port 0 is the scheme's default; a proxy, which is sent the whole URL, shows it.
TEST(HttpCurl, Connect_PortZeroIsTheSchemeDefault) {
    std::string base = OriginUrl("faults");
    ASSERT_FALSE(base.empty());
    for (const char* name : {"no_proxy", "NO_PROXY"})
        SetEnvironment(name, "");
    SetEnvironment("http_proxy", base);
    CHttpClient client("KVSsfRd/1.0");
    DWORD status = 0, count = 0;
    char line[64] = {};
    EXPECT_EQ(client.Connect("origin.invalid", 0, nullptr, nullptr, kHttpSchemeHttp), S_OK);
    EXPECT_EQ(client.SendRequest("/echo", nullptr), S_OK);
    EXPECT_EQ(client.GetStatusCode(&status), S_OK);
    EXPECT_EQ(client.Read(line, sizeof(line) - 1, &count), S_OK);
    SetEnvironment("http_proxy", "");
    EXPECT_EQ(std::string(line).rfind("GET http://origin.invalid/echo HTTP/1.0\n", 0), 0u) << line;
}

} // namespace
