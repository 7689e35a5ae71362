// Hostile and flaky origins: the body limits, the low-speed rule and the retries of
// transient failures, each leaving nothing behind.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "fragments/body_buffer.h"
#include "fragments/fragment.h"
#include "fragments/http_client.h"
#include "fragments/http_file.h"
#include "tests/support/origin.h"
#include "tests/support/temp_directory.h"

namespace {

constexpr HRESULT kTooLarge = HRESULT(0x800700DF);
constexpr HRESULT kTimedOut = HRESULT(0x80072EE2);
constexpr HRESULT kNotFound = HRESULT(0x80070002);

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The fragment of chunk 1 of a flaky presentation, meeting faults ("+"-joined, "-" for
// none) before it is served; tag counts its requests.
std::string FlakyChunk(const std::string& base, const std::string& name, const char* faults) {
    return base + "flaky/" + name + "/-/" + faults +
           "/QualityLevels(300000)/Fragments(video=20000000)";
}

std::string FlakyTag(const std::string& name) {
    return name + "/QualityLevels(300000)/Fragments(video=20000000)";
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

TEST(HttpFileFaults, Bounds_FailWithTheirResultInTimeAndLeaveNothing) {
    const std::string base = OriginUrl("faults");
    ASSERT_FALSE(base.empty());
    ScopedTempDirectory temp;
    ScopedLowSpeedWindow window(2);
    struct Case {
        const char* path;
        uint64_t limit;
        HRESULT expected;
        double maxSeconds;
    } cases[] = {
        // First, while no earlier body of the same bytes lies in the pool.
        {"big?unannounced=1", 3 * 1024 * 1024 + 7, S_OK, 10},
        // A body without a declared length, cut at the limit (a fragment's, a manifest's).
        {"endless", kHttpMinFragmentBodyLimit, kTooLarge, 20},
        {"endless", kHttpManifestBodyLimit, kTooLarge, 40},
        // A declared length over the limit fails before the body: the server then holds
        // the connection silent for 30 s.
        {"huge", kHttpManifestBodyLimit, kTooLarge, 5},
        {"big", 3 * 1024 * 1024 + 6, kTooLarge, 5},
        {"big", 3 * 1024 * 1024 + 7, S_OK, 10},
        // 200 B/s is under 1 KiB/s; 8 KiB/s is not, however long it takes.
        {"trickle?rate=200&size=100000", kHttpManifestBodyLimit, kTimedOut, 10},
        {"trickle?rate=8192&size=40000", kHttpManifestBodyLimit, S_OK, 15},
    };
    for (const Case& c : cases) {
        const std::string url = base + c.path;
        CHttpFile file;
        CBodyBuffer body;
        const auto start = Clock::now();
        EXPECT_EQ(file.Download(url.c_str(), c.limit, nullptr, &body), c.expected) << c.path;
        EXPECT_LT(SecondsSince(start), c.maxSeconds) << c.path;
        // The body kept in memory is the file's; none after a failure.
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(body.Data()), body.Size()),
                  file.Stream != nullptr ? ReadAll(&file) : "")
            << c.path;
        if (FAILED(c.expected)) {
            EXPECT_EQ(file.Stream, nullptr) << c.path;
            EXPECT_EQ(file.GetFailure().Result, c.expected) << c.path;
            EXPECT_EQ(file.GetFailure().Status, 200u) << c.path;
            EXPECT_EQ(file.GetFailure().Url, url) << c.path;
            EXPECT_EQ(temp.LeftoverCount(), 0u) << c.path;
        } else {
            int64_t length = 0;
            EXPECT_EQ(file.GetLength(&length), S_OK);
            EXPECT_EQ(uint64_t(length), c.path[0] == 'b' ? c.limit : 40000u) << c.path;
            EXPECT_EQ(temp.LeftoverCount(), 1u) << c.path;
        }
        file.Close();
    }
    EXPECT_EQ(temp.LeftoverCount(), 0u);
}

TEST(HttpFileFaults, Retries_TransientFaultsTriedTwiceAfterTheirDelays) {
    const std::string base = OriginUrl("faults");
    ASSERT_FALSE(base.empty());
    ScopedTempDirectory temp;
    CHttpFile clean;
    ASSERT_EQ(clean.Download(FlakyChunk(base, UniqueName("clean"), "-").c_str()), S_OK);
    const std::string expected = ReadAll(&clean);
    ASSERT_FALSE(expected.empty());
    clean.Close();

    struct Case {
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
    for (const Case& c : cases) {
        const std::string name = UniqueName("retry");
        const std::string url = FlakyChunk(base, name, c.faults);
        CHttpFile file;
        const auto start = Clock::now();
        EXPECT_EQ(file.Download(url.c_str(), kHttpMinFragmentBodyLimit), c.expected) << c.faults;
        const double seconds = SecondsSince(start);
        EXPECT_GE(seconds, c.minSeconds) << c.faults;
        EXPECT_LT(seconds, c.maxSeconds) << c.faults;
        EXPECT_EQ(RequestCount(FlakyTag(name)), c.requests) << c.faults;
        EXPECT_EQ(file.GetFailure().Status, c.failedStatus) << c.faults;
        if (SUCCEEDED(c.expected)) {
            EXPECT_EQ(file.GetFailure().Result, S_OK) << c.faults;
            EXPECT_EQ(ReadAll(&file), expected) << c.faults;
        } else {
            EXPECT_EQ(file.GetFailure().Result, c.expected) << c.faults;
            EXPECT_EQ(file.GetFailure().Url, url) << c.faults;
        }
        file.Close();
        EXPECT_EQ(temp.LeftoverCount(), 0u) << c.faults;
    }
}

TEST(HttpFileFaults, FragmentBodyLimit_EightTimesThePredictionNeverBelowTheFloor) {
    struct Case {
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
    for (const Case& c : cases)
        EXPECT_EQ(FragmentBodyLimit(c.bitrate, c.durationTicks, c.timeScale), c.expected)
            << c.bitrate << " " << c.durationTicks << " " << c.timeScale;
}

} // namespace
