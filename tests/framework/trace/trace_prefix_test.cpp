// The line prefix and the time-of-day stamp, computed apart from any clock.
#include <gtest/gtest.h>

#include <string>

#include "framework/trace/trace_prefix.h"

namespace {

std::string Stamp(TraceTimeOfDay start, uint64_t elapsedMs) {
    char stamp[32];
    FormatTraceTimeStamp(start, elapsedMs, stamp, sizeof(stamp));
    return stamp;
}

std::string Prefix(const TracePrefixParts& parts) {
    char prefix[kTracePrefixChars + 1];
    FormatTracePrefix(parts, prefix);
    return prefix;
}

TEST(TracePrefixTest, FormatTraceTimeStamp_Elapsed_CarriedThroughEachUnit) {
    EXPECT_EQ("09:05:03.007: ", Stamp({9, 5, 3, 7}, 0));
    EXPECT_EQ("11:00:00.000: ", Stamp({10, 59, 59, 999}, 1));
    EXPECT_EQ("11:01:01.001: ", Stamp({9, 59, 59, 999}, 3600000 + 61002));
}

TEST(TracePrefixTest, FormatTraceTimeStamp_PastMidnight_HoursWrapOnce) {
    EXPECT_EQ("00:00:00.100: ", Stamp({23, 59, 59, 500}, 600));
    EXPECT_EQ("22:30:00.000: ", Stamp({23, 30, 0, 0}, 23 * 3600000));
    // Exactly one day is not more than a day.
    EXPECT_EQ("12:00:00.000: ", Stamp({12, 0, 0, 0}, kTraceMsPerDay));
}

TEST(TracePrefixTest, FormatTraceTimeStamp_MoreThanADay_WholeDaysFirst) {
    EXPECT_EQ("+1d 12:00:00.001: ", Stamp({12, 0, 0, 0}, kTraceMsPerDay + 1));
    EXPECT_EQ("+2d 00:30:00.000: ", Stamp({23, 30, 0, 0}, 2 * kTraceMsPerDay + 3600000));
}

TEST(TracePrefixTest, FormatTracePrefix_AllParts_InOrder) {
    TracePrefixParts parts;
    parts.Newlines = 2;
    parts.ExtraNewline = true;
    parts.TimeStamp = "01:02:03.004: ";
    parts.HasHandleCount = true;
    parts.HandleCount = 7;
    parts.HasThreadId = true;
    parts.ThreadId = 0xabc;
    EXPECT_EQ("\r\n\r\n\r\n01:02:03.004:    7 00000abc: ", Prefix(parts));

    TracePrefixParts plain;
    plain.Newlines = 1;
    plain.HasHandleCount = true;
    plain.HandleCount = -1;
    EXPECT_EQ("\r\n  -1 ", Prefix(plain));
}

TEST(TracePrefixTest, FormatTracePrefix_ManyNewlines_TwentyFourPairsAndCutAtFifty) {
    TracePrefixParts parts;
    parts.Newlines = 30;
    std::string pairs;
    for (int i = 0; i < 24; ++i)
        pairs += "\r\n";
    EXPECT_EQ(pairs, Prefix(parts));

    parts.ExtraNewline = true;
    parts.TimeStamp = "01:02:03.004: ";
    parts.HasThreadId = true;
    parts.ThreadId = 0x12345678;
    const std::string prefix = Prefix(parts);
    EXPECT_EQ(kTracePrefixChars, prefix.size());
    EXPECT_EQ(pairs + "\r\n", prefix);
}

} // namespace
