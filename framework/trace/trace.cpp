#include "framework/trace/trace.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "framework/critical_section.h"
#include "framework/trace/trace_prefix.h"
#include "framework/trace/trace_writer.h"

namespace {

constexpr size_t kMaxLineChars = 2048;
constexpr auto kPauseBeforeExtraNewline = std::chrono::milliseconds(100);
constexpr size_t kBytesPerDumpLine = 16;
constexpr size_t kTimeStampChars = 32;

CTraceModuleLink g_link;

// The clock of the time-of-day stamps: the local time read at the first stamped line and
// a stopwatch started with it.
class CTraceClock {
public:
    // The stamp for a line now; *pause when more than 100 ms passed since the previous
    // stamped line. Any thread.
    void Stamp(char (&stamp)[kTimeStampChars], bool* pause) {
        CAutoLock lock(&m_lock);
        const auto now = std::chrono::steady_clock::now();
        if (!m_started) {
            m_started = true;
            m_startTime = TraceLocalTimeOfDay();
            m_startTick = now;
            m_previous = now;
        }
        *pause = now - m_previous > kPauseBeforeExtraNewline;
        m_previous = now;
        const auto elapsed =
            std::chrono::duration_cast<std::chrono::milliseconds>(now - m_startTick);
        FormatTraceTimeStamp(m_startTime, uint64_t(elapsed.count()), stamp, sizeof(stamp));
    }

private:
    CCritSec m_lock;
    // Guarded by m_lock.
    bool m_started = false;
    TraceTimeOfDay m_startTime{};
    std::chrono::steady_clock::time_point m_startTick;
    std::chrono::steady_clock::time_point m_previous;
};

CTraceClock& Clock() {
    static CTraceClock clock;
    return clock;
}

void EmitLine(const char* message) {
    const DWORD flags = g_dwKTraceSwitch;
    char prefix[kTracePrefixChars + 1] = "";
    const char* body = message;
    if (*body == '\n') {
        TracePrefixParts parts;
        while (*body == '\n') {
            ++parts.Newlines;
            ++body;
        }
        char stamp[kTimeStampChars];
        if (flags & KTRACE_TIME) {
            Clock().Stamp(stamp, &parts.ExtraNewline);
            parts.TimeStamp = stamp;
        }
        if (flags & KTRACE_HANDLE_COUNT) {
            parts.HasHandleCount = true;
            parts.HandleCount = TraceHandleCount();
        }
        if (flags & KTRACE_THREAD_ID) {
            parts.HasThreadId = true;
            parts.ThreadId = TraceThreadId();
        }
        FormatTracePrefix(parts, prefix);
    }

    char line[kMaxLineChars + 1];
    std::snprintf(line, sizeof(line), "%s%s", prefix, body);

    if (flags & KTRACE_DEBUGGER)
        TraceDebuggerOutput(line);
    if (flags & KTRACE_FILE) {
        if (CTraceWriter* writer = g_link.Writer())
            writer->Append(line);
    } else if (flags & KTRACE_DEBUGGER) {
        TraceYield();
    }
}

void TraceV(const char* format, va_list args) {
    char message[kMaxLineChars + 1];
    std::vsnprintf(message, sizeof(message), format, args);
    EmitLine(message);
}

} // namespace

void KTrace(const char* format, ...) {
    if (!(g_dwKTraceSwitch & KTRACE_ON))
        return;
    va_list args;
    va_start(args, format);
    TraceV(format, args);
    va_end(args);
}

void KTraceAndFlush(const char* format, ...) {
    if (!(g_dwKTraceSwitch & KTRACE_ON))
        return;
    va_list args;
    va_start(args, format);
    TraceV(format, args);
    va_end(args);
    if (CTraceWriter* writer = g_link.Attached())
        writer->Flush();
}

void KTraceBytes(const char* format, const BYTE* bytes, size_t count) {
    if (!(g_dwKTraceSwitch & KTRACE_ON))
        return;
    // Traced as it stands: there are no arguments for its conversions.
    EmitLine(format);
    for (size_t offset = 0; offset < count; offset += kBytesPerDumpLine) {
        const size_t n = count - offset < kBytesPerDumpLine ? count - offset : kBytesPerDumpLine;
        char line[4 + kBytesPerDumpLine * 4];
        char* p = line;
        *p++ = '\n';
        *p++ = ' ';
        for (size_t i = 0; i < kBytesPerDumpLine; ++i) {
            if (i < n)
                std::snprintf(p, 4, "%02X ", unsigned(bytes[offset + i]));
            else
                std::memcpy(p, "   ", 4);
            p += 3;
        }
        *p++ = ' ';
        for (size_t i = 0; i < n; ++i) {
            const BYTE c = bytes[offset + i];
            *p++ = c >= 0x20 && c < 0x7F ? char(c) : '.';
        }
        *p = '\0';
        EmitLine(line);
    }
}

void KTraceLibraryError(const char* format, ...) {
    if (!(g_dwKTraceSwitch & KTRACE_ON))
        return;
    char message[kMaxLineChars + 1];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof(message), format, args);
    va_end(args);
    KTrace("---------------------- %s\n", message);
}

void KTraceRelease() {
    g_link.Release();
}
