// The diagnostic trace: printf-style lines sent to the debugger output (standard error
// on Linux) and to a buffered trace file, optionally prefixed with the time of day, the
// process's handle count and the thread id. Everything is governed by the module's
// switch word; as shipped it is 0x10, which sets none of the bits below, so no call
// formats or writes anything and error names are empty.
#pragma once

#include <cstddef>

#include "framework/platform/platform.h"

// Bits of the switch word.
enum : DWORD {
    KTRACE_FILE = 0x01,         // append lines to the trace file
    KTRACE_TIME = 0x02,         // prefix lines with the time of day
    KTRACE_THREAD_ID = 0x04,    // prefix lines with the thread id
    KTRACE_ON = 0x08,           // without it nothing is traced and names are empty
    KTRACE_HANDLE_COUNT = 0x20, // prefix lines with the process's handle count
    KTRACE_DEBUGGER = 0x40,     // send lines to the debugger output
};

// The module's switch word: KVSSF_TRACE_SWITCH at build time (trace_switch.cpp). Nothing
// in the system changes it; test builds define another value.
extern DWORD g_dwKTraceSwitch;

// Characters of the trace file path buffer, terminator included.
constexpr size_t KTRACE_PATH_CHARS = 260;
// The trace file: "c:\KorvelTrace.txt" on Windows; empty on Linux, where the first use fills
// in "KorvelTrace.txt" in the temporary directory ($TMPDIR, else /tmp). Read when this
// module attaches to the process's writer, i.e. at its first trace to the file and at the
// first after KTraceRelease; change it only while detached.
extern WCHAR g_wszKTraceFile[KTRACE_PATH_CHARS];

// Formats at most 2048 characters and emits them. Only a line that begins with "\n" gets
// the prefixes. Any thread.
void KTrace(const char* format, ...);
// KTrace, then flushes the trace file's buffer at once.
void KTraceAndFlush(const char* format, ...);
// Traces the format, then one line per 16 bytes: hexadecimal, then the printable bytes.
void KTraceBytes(const char* format, const BYTE* bytes, size_t count);
// The name of an HRESULT (a Windows Sockets error, a raster error, a row of the name
// table, else "0x%08X"); empty unless KTRACE_ON. A formatted text lives in a static
// buffer of the calling thread that its next call may overwrite.
const char* KTraceErrorName(HRESULT hr);
// An error report of the H.264 library: traced as "---------------------- %s\n".
void KTraceLibraryError(const char* format, ...);
// Gives up this module's count on the process's shared writer (flushing it first); the
// last count frees it. Called when the module may be unloaded, while no other trace call
// of this module runs; a later trace attaches again.
void KTraceRelease();
