// What the diagnostic trace needs from the operating system. One backend per platform,
// chosen by CMake: trace_win32.cpp, trace_posix.cpp.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "framework/platform/platform.h"

class CTraceWriter;

// The 16-byte block through which the modules of a process find its one writer. Created
// zeroed; lock-free atomics, so every module may address it through its own view.
struct TraceSharedBlock {
    std::atomic<CTraceWriter*> Writer;
    // Holders inside the block: a thread enters when its increment finds it 0.
    std::atomic<int32_t> Busy;
    int32_t Reserved;
};
static_assert(sizeof(TraceSharedBlock) == 16, "the block is 16 bytes");

// Opens (creating when absent) the block of this process named name. *handle is what
// TraceCloseSharedBlock needs. Null on failure.
TraceSharedBlock* TraceOpenSharedBlock(const std::wstring& name, void** handle);
void TraceCloseSharedBlock(TraceSharedBlock* block, void* handle);

struct TraceTimeOfDay {
    int Hours;
    int Minutes;
    int Seconds;
    int Milliseconds;
};
TraceTimeOfDay TraceLocalTimeOfDay();

DWORD TraceProcessId();
DWORD TraceThreadId();
// Handles (POSIX: file descriptors) the process holds; -1 when they cannot be counted.
int TraceHandleCount();
// The debugger output (POSIX: standard error).
void TraceDebuggerOutput(const char* line);
// Gives up the rest of the thread's time slice.
void TraceYield();
void TraceSleep(DWORD milliseconds);

// The default trace file path, written into path[0, chars).
void TraceDefaultFilePath(WCHAR* path, size_t chars);
// The separator used when a path is built.
WCHAR TracePathSeparator();

enum class TraceFileResult { Written, AccessDenied, SharingViolation, Failed };
// Opens path for reading and writing, shared for reading, opening or creating it; writes
// header first when the file is empty, then text at its end; closes it.
TraceFileResult TraceAppendToFile(const WCHAR* path, const std::string& header,
                                  const std::string& text);
// True when path is a folder afterwards (created now or before).
bool TraceCreateFolder(const WCHAR* path);

// A recursive lock that can also be tried.
class CTraceLock {
public:
    virtual ~CTraceLock() = default;
    virtual void Lock() = 0;
    virtual void Unlock() = 0;
    virtual bool TryLock() = 0;
};
// Throws std::bad_alloc when out of memory.
std::unique_ptr<CTraceLock> CreateTraceLock();

// A periodic timer calling proc(context) on a thread of its own.
class CTraceTimer {
public:
    virtual ~CTraceTimer() = default;
    // No call starts afterwards; waits up to waitMs for a call in progress (POSIX: until it
    // returns). Called once, never from proc.
    virtual void Stop(DWORD waitMs) = 0;
};
typedef void (*TraceTimerProc)(void* context);
// Null when the timer cannot be started.
std::unique_ptr<CTraceTimer> StartTraceTimer(DWORD periodMs, TraceTimerProc proc, void* context);
