// CHttpFile against the origin and a hostile or flaky one: the body and its stream,
// statuses, the body limits, the low-speed rule, retries and certificates. No failure
// leaves a file behind.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fragments/body_buffer.h"
#include "fragments/fragment.h"
#include "fragments/http_client.h"
#include "fragments/http_file.h"
#include "tests/support/failing_allocation.h"
#include "tests/support/origin.h"
#include "tests/support/temp_directory.h"

namespace {

constexpr HRESULT kNotFound = HRESULT(0x80070002);
constexpr HRESULT kTooLarge = HRESULT(0x800700DF);
constexpr HRESULT kTimedOut = HRESULT(0x80072EE2);
constexpr uint64_t kBigSize = 3 * 1024 * 1024 + 7; // /big: bytes 0..250 repeated

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string ReadAll(CHttpFile* file) {
    std::string body;
    char buffer[4096];
    size_t count = 0;
    while (file->Read(buffer, sizeof(buffer), &count) == S_OK && count > 0)
        body.append(buffer, count);
    return body;
}

// Shortens the low-speed window for one test.
class ScopedLowSpeedWindow {
public:
    explicit ScopedLowSpeedWindow(DWORD seconds) { SetHttpLowSpeedWindow(seconds); }
    ~ScopedLowSpeedWindow() { SetHttpLowSpeedWindow(0); }
};

class HttpFileTest : public testing::Test {
protected:
    void SetUp() override {
        m_base = OriginUrl("faults");
        ASSERT_FALSE(m_base.empty());
    }
    // The latest download of file failed with result, the failing response's status (0
    // for none) and url, and left neither stream nor file.
    void ExpectFailure(const CHttpFile& file, HRESULT result, DWORD status,
                       const std::string& url) {
        EXPECT_EQ(file.Stream, nullptr) << url;
        EXPECT_EQ(file.GetFailure().Result, result) << url;
        EXPECT_EQ(file.GetFailure().Status, status) << url;
        EXPECT_EQ(file.GetFailure().Url, url) << url;
        EXPECT_EQ(m_temp.LeftoverCount(), 0u) << url;
    }

    ScopedTempDirectory m_temp;
    std::string m_base;
};

TEST_F(HttpFileTest, Body_ServedBytesInAStreamThatGoesWithItsFile) {
    std::ifstream in(OriginPath("www/media/vod/pres.ism/Manifest"), std::ios::binary);
    const std::string expected{std::istreambuf_iterator<char>(in), {}};
    ASSERT_GT(expected.size(), 10u);
    CHttpFile file;
    ASSERT_EQ(file.Download((OriginUrl("nginx") + "media/vod/pres.ism/Manifest").c_str()), S_OK);
    int64_t value = -1;
    EXPECT_EQ(file.GetLength(&value), S_OK);
    EXPECT_EQ(value, int64_t(expected.size()));
    EXPECT_EQ(ReadAll(&file), expected);
    EXPECT_EQ(m_temp.LeftoverCount(), 1u);

    char buffer[11];
    size_t count = 0;
    EXPECT_EQ(file.Seek(-10, 2), S_OK);
    EXPECT_EQ(file.Read(buffer, 11, &count), S_OK);
    EXPECT_EQ(count, 10u);
    EXPECT_EQ(std::string(buffer, 10), expected.substr(expected.size() - 10));

    ASSERT_EQ(file.Download((m_base + "empty").c_str()), S_OK);
    EXPECT_EQ(m_temp.LeftoverCount(), 1u) << "the previous body outlived its download";
    EXPECT_EQ(file.Close(), S_OK);
    EXPECT_EQ(file.Stream, nullptr);
    EXPECT_EQ(m_temp.LeftoverCount(), 0u);
}

// Each download goes into a body buffer, which holds what the file does (nothing after
// a failure).
TEST_F(HttpFileTest, Downloads_LimitsStatusesAndBrokenTransfers) {
    ScopedLowSpeedWindow window(2);
    std::string big(kBigSize, '\0');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = char(i % 251);
    const struct {
        std::string url;
        uint64_t limit;
        HRESULT expected;
        DWORD status; // of the failure
        double maxSeconds;
        std::string body;
    } cases[] = {
        // First, while no earlier body of the same bytes lies in the pool.
        {m_base + "big?unannounced=1", kBigSize, S_OK, 0, 10, big},
        {m_base + "big", kBigSize, S_OK, 0, 10, big},
        {m_base + "empty", kBigSize, S_OK, 0, 5, ""},
        // A body without a declared length, cut at the limit (a fragment's, a manifest's).
        {m_base + "endless", kHttpMinFragmentBodyLimit, kTooLarge, 200, 20, ""},
        {m_base + "endless", kHttpManifestBodyLimit, kTooLarge, 200, 40, ""},
        // A declared length over the limit fails before the body: the server then holds
        // the connection silent for 30 s.
        {m_base + "huge", kHttpManifestBodyLimit, kTooLarge, 200, 5, ""},
        {m_base + "big", kBigSize - 1, kTooLarge, 200, 5, ""},
        // 200 B/s is under 1 KiB/s; 8 KiB/s is not, however long it takes.
        {m_base + "trickle?rate=200&size=100000", kBigSize, kTimedOut, 200, 10, ""},
        {m_base + "trickle?rate=8192&size=40000", kBigSize, S_OK, 0, 15, std::string(40000, 's')},
        // A body cut short of its Content-Length, every attempt.
        {m_base + "truncated", kBigSize, HRESULT(0x80072EFE), 200, 5, ""},
        // Statuses are final as received (5xx after the retries); redirects not followed.
        {m_base + "status/401", kBigSize, E_ACCESSDENIED, 401, 1.4, ""},
        {m_base + "status/404", kBigSize, kNotFound, 404, 1.4, ""},
        {m_base + "status/301", kBigSize, kNotFound, 301, 1.4, ""},
        {m_base + "status/302", kBigSize, kNotFound, 302, 1.4, ""},
        {m_base + "status/204", kBigSize, kNotFound, 204, 1.4, ""},
        {m_base + "status/500", kBigSize, kNotFound, 500, 3.5, ""},
        {"not a url", kBigSize, HRESULT(0x80072EE5), 0, 1, ""},
        {"http://127.0.0.1:1/", kBigSize, HRESULT(0x80072EFD), 0, 1, ""},
    };
    for (const auto& c : cases) {
        CHttpFile file;
        CBodyBuffer body;
        const auto start = Clock::now();
        EXPECT_EQ(file.Download(c.url.c_str(), c.limit, nullptr, &body), c.expected) << c.url;
        EXPECT_LT(SecondsSince(start), c.maxSeconds) << c.url;
        const std::string kept(reinterpret_cast<const char*>(body.Data()), body.Size());
        if (FAILED(c.expected)) {
            ExpectFailure(file, c.expected, c.status, c.url);
            EXPECT_EQ(kept, "") << c.url;
            continue;
        }
        EXPECT_EQ(file.GetFailure().Result, S_OK) << c.url;
        int64_t length = 0;
        EXPECT_EQ(file.GetLength(&length), S_OK);
        EXPECT_EQ(uint64_t(length), c.body.size()) << c.url;
        EXPECT_TRUE(ReadAll(&file) == c.body && kept == c.body) << c.url;
        EXPECT_EQ(m_temp.LeftoverCount(), 1u) << c.url;
    }

    // Failures whose code differs between the backends, and memory running out.
    CHttpFile file;
    for (const std::string& url : {m_base + "drop", std::string("kvssf://")}) {
        EXPECT_TRUE(FAILED(file.Download(url.c_str()))) << url;
        EXPECT_EQ(file.Stream, nullptr) << url;
    }
    FailNothrowAllocationAfter(0);
    EXPECT_EQ(file.Download((m_base + "big").c_str()), E_OUTOFMEMORY);
    EXPECT_EQ(file.Stream, nullptr);
    EXPECT_EQ(m_temp.LeftoverCount(), 0u);
}

TEST_F(HttpFileTest, Retries_TransientFaultsTriedTwiceAfterTheirDelays) {
    // Chunk 1 of a flaky presentation, meeting faults ("+"-joined, "-" for none) first;
    // the server counts its requests under the name.
    auto chunk = [&](const std::string& name, const char* faults) {
        return m_base + "flaky/" + name + "/-/" + faults +
               "/QualityLevels(300000)/Fragments(video=20000000)";
    };
    CHttpFile clean;
    ASSERT_EQ(clean.Download(chunk(UniqueName("clean"), "-").c_str()), S_OK);
    const std::string expected = ReadAll(&clean);
    ASSERT_FALSE(expected.empty());
    clean.Close();

    const struct {
        const char* faults;
        HRESULT expected;
        int requests;
        DWORD failedStatus; // of the last failure; 0 when none or no response
        double minSeconds, maxSeconds;
    } cases[] = {
        // Retry-After (1 s) replaces the first delay; the second is 1 s.
        {"503r1+reset", S_OK, 3, 0, 1.9, 4},
        {"503+close", S_OK, 3, 0, 1.4, 3.5},
        {"drop", S_OK, 2, 0, 0.45, 2.5},
        // Retry-After is honoured up to 5 s.
        {"503r9", S_OK, 2, 0, 4.9, 7.5},
        {"500+503+500", kNotFound, 3, 500, 1.4, 3.5},
        // A client error is final at once.
        {"404", kNotFound, 1, 404, 0, 0.45},
        {"403+503", kNotFound, 1, 403, 0, 0.45},
    };
    for (const auto& c : cases) {
        const std::string name = UniqueName("retry");
        const std::string url = chunk(name, c.faults);
        CHttpFile file;
        const auto start = Clock::now();
        EXPECT_EQ(file.Download(url.c_str(), kHttpMinFragmentBodyLimit), c.expected) << c.faults;
        const double seconds = SecondsSince(start);
        EXPECT_GE(seconds, c.minSeconds) << c.faults;
        EXPECT_LT(seconds, c.maxSeconds) << c.faults;
        EXPECT_EQ(RequestCount(name + "/QualityLevels(300000)/Fragments(video=20000000)"),
                  c.requests)
            << c.faults;
        if (FAILED(c.expected)) {
            ExpectFailure(file, c.expected, c.failedStatus, url);
            continue;
        }
        EXPECT_EQ(file.GetFailure().Status, 0u) << c.faults;
        EXPECT_EQ(file.GetFailure().Result, S_OK) << c.faults;
        EXPECT_EQ(ReadAll(&file), expected) << c.faults;
        file.Close();
        EXPECT_EQ(m_temp.LeftoverCount(), 0u) << c.faults;
    }
}

// Verification of the test server's self-signed certificate: its CA is trusted through
// CURL_CA_BUNDLE, which the platform's own store (WinINet's) ignores.
TEST_F(HttpFileTest, Tls_CertificateAndItsNameAreVerified) {
    const std::string tls = OriginUrl("tls");
    ASSERT_FALSE(tls.empty());
    const std::string viaScheme = "kvssfs" + tls.substr(5);
    const char* bundle = std::getenv("CURL_CA_BUNDLE");
    const std::string saved = bundle ? bundle : "";
    CHttpFile file;
    SetEnvironment("CURL_CA_BUNDLE", "");
    for (const std::string& url : {tls + "echo", viaScheme + "echo"})
        EXPECT_EQ(file.Download(url.c_str()), HRESULT(0x80072F0D)) << url;
    SetEnvironment("CURL_CA_BUNDLE", saved);
    if (saved.empty())
        GTEST_SKIP() << "the platform's own certificate store does not trust the test CA";

    ASSERT_EQ(file.Download((tls + "big").c_str()), S_OK);
    int64_t length = 0;
    EXPECT_EQ(file.GetLength(&length), S_OK);
    EXPECT_EQ(uint64_t(length), kBigSize);
    EXPECT_EQ(file.Download((viaScheme + "empty").c_str()), S_OK);
    // The same server under a name its certificate does not carry.
    std::string other = tls;
    other.replace(other.find("localhost"), 9, "127.0.0.2");
    EXPECT_TRUE(FAILED(file.Download((other + "empty").c_str())));
}

TEST(HttpFile, FragmentBodyLimit_EightTimesThePredictionNeverBelowTheFloor) {
    const struct {
        uint64_t bitrate, durationTicks, timeScale, expected;
    } cases[] = {
        {300000, 20000000, 10000000, kHttpMinFragmentBodyLimit},
        {0, 0, 0, kHttpMinFragmentBodyLimit},
        // 100 Mbit/s for 2 s is 25 MB; eight times that in bytes.
        {100000000, 20000000, 10000000, 200000000},
        {100000000, 2000, 1000, 200000000},
        {100000000, 20000000, 0, 200000000},
        {UINT64_MAX, UINT64_MAX, 1, UINT64_MAX},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FragmentBodyLimit(c.bitrate, c.durationTicks, c.timeScale), c.expected)
            << c.bitrate << " " << c.durationTicks << " " << c.timeScale;
}

} // namespace
