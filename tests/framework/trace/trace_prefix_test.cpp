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

// The elapsed time carried through each unit, hours wrapping past midnight, whole days
// first once more than a day passed.
TEST(TracePrefixTest, FormatTraceTimeStamp_Elapsed_CarriedThroughEachUnit) {
    const struct {
        TraceTimeOfDay Start;
        uint64_t ElapsedMs;
        const char* Stamp;
    } cases[] = {
        {{10, 59, 59, 999}, 1, "11:00:00.000: "},
        {{9, 59, 59, 999}, 3600000 + 61002, "11:01:01.001: "},
        {{23, 59, 59, 500}, 600, "00:00:00.100: "},
        {{12, 0, 0, 0}, kTraceMsPerDay, "12:00:00.000: "},
        {{12, 0, 0, 0}, kTraceMsPerDay + 1, "+1d 12:00:00.001: "},
        {{23, 30, 0, 0}, 2 * kTraceMsPerDay + 3600000, "+2d 00:30:00.000: "},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.Stamp, Stamp(c.Start, c.ElapsedMs)) << c.Stamp;
}

// Every part in order; past 24 newline pairs the prefix is cut at its bound.
TEST(TracePrefixTest, FormatTracePrefix_AllPartsInOrderAndCutAtFifty) {
    TracePrefixParts parts;
    parts.Newlines = 2;
    parts.ExtraNewline = true;
    parts.TimeStamp = "01:02:03.004: ";
    parts.HasHandleCount = true;
    parts.HandleCount = 7;
    parts.HasThreadId = true;
    parts.ThreadId = 0xabc;
    EXPECT_EQ("\r\n\r\n\r\n01:02:03.004:    7 00000abc: ", Prefix(parts));

    parts.Newlines = 30;
    std::string pairs;
    for (int i = 0; i < 25; ++i)
        pairs += "\r\n";
    EXPECT_EQ(pairs, Prefix(parts));
    EXPECT_EQ(kTracePrefixChars, pairs.size());
    parts.ExtraNewline = false;
    parts.HasHandleCount = parts.HasThreadId = false;
    parts.TimeStamp = nullptr;
    EXPECT_EQ(pairs.substr(2), Prefix(parts));
}

} // namespace
