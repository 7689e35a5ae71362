// The prefix of a trace line that begins with "\n": the newlines as "\r\n", then the
// optional time of day, handle count and thread id, in at most 50 characters.
#pragma once

#include <cstddef>
#include <cstdint>

#include "framework/platform/platform.h"
#include "framework/platform/trace_platform.h"

constexpr size_t kTracePrefixChars = 50;
// Leading newlines the prefix holds; more are dropped.
constexpr int kTraceMaxPrefixNewlines = 24;
constexpr uint64_t kTraceMsPerDay = 86400000;

struct TracePrefixParts {
    int Newlines = 0;          // leading newlines of the message
    bool ExtraNewline = false; // one more, first: a pause since the previous stamped line
    const char* TimeStamp = nullptr;
    bool HasHandleCount = false;
    int HandleCount = 0;
    bool HasThreadId = false;
    DWORD ThreadId = 0;
};

// The prefix, cut at kTracePrefixChars characters.
void FormatTracePrefix(const TracePrefixParts& parts, char (&prefix)[kTracePrefixChars + 1]);

// "%02d:%02d:%02d.%03d: " of start plus elapsedMs, with each unit carried into the next and
// 24 hours taken off once; after more than a day, "+%dd " with the whole days first.
void FormatTraceTimeStamp(const TraceTimeOfDay& start, uint64_t elapsedMs, char* stamp,
                          size_t size);
