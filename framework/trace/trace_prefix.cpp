#include "framework/trace/trace_prefix.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

// Appends text to prefix as far as it fits.
class CPrefixBuilder {
public:
    explicit CPrefixBuilder(char (&prefix)[kTracePrefixChars + 1]) : m_prefix(prefix) {
        m_prefix[0] = '\0';
    }

    void Append(const char* text) {
        const size_t count = std::min(std::strlen(text), kTracePrefixChars - m_length);
        std::memcpy(m_prefix + m_length, text, count);
        m_length += count;
        m_prefix[m_length] = '\0';
    }

private:
    char (&m_prefix)[kTracePrefixChars + 1];
    size_t m_length = 0;
};

} // namespace

void FormatTracePrefix(const TracePrefixParts& parts, char (&prefix)[kTracePrefixChars + 1]) {
    CPrefixBuilder builder(prefix);
    if (parts.ExtraNewline)
        builder.Append("\r\n");
    const int newlines = std::min(parts.Newlines, kTraceMaxPrefixNewlines);
    for (int i = 0; i < newlines; ++i)
        builder.Append("\r\n");
    if (parts.TimeStamp)
        builder.Append(parts.TimeStamp);
    char field[16];
    if (parts.HasHandleCount) {
        std::snprintf(field, sizeof(field), "%4d ", parts.HandleCount);
        builder.Append(field);
    }
    if (parts.HasThreadId) {
        std::snprintf(field, sizeof(field), "%08x: ", unsigned(parts.ThreadId));
        builder.Append(field);
    }
}

void FormatTraceTimeStamp(const TraceTimeOfDay& start, uint64_t elapsedMs, char* stamp,
                          size_t size) {
    const bool overADay = elapsedMs > kTraceMsPerDay;
    const uint64_t days = overADay ? elapsedMs / kTraceMsPerDay : 0;
    const uint64_t withinDay = overADay ? elapsedMs % kTraceMsPerDay : elapsedMs;

    uint64_t milliseconds = uint64_t(start.Milliseconds) + withinDay;
    uint64_t seconds = uint64_t(start.Seconds) + milliseconds / 1000;
    milliseconds %= 1000;
    uint64_t minutes = uint64_t(start.Minutes) + seconds / 60;
    seconds %= 60;
    uint64_t hours = uint64_t(start.Hours) + minutes / 60;
    minutes %= 60;
    if (hours > 23)
        hours -= 24;

    if (overADay)
        std::snprintf(stamp, size, "+%dd %02d:%02d:%02d.%03d: ", int(days), int(hours),
                      int(minutes), int(seconds), int(milliseconds));
    else
        std::snprintf(stamp, size, "%02d:%02d:%02d.%03d: ", int(hours), int(minutes), int(seconds),
                      int(milliseconds));
}
