// The process's trace file writer and a module's link to it. Text appended by any thread
// of any module waits in memory; a timer writes it to the file every 500 ms, a module
// may flush it at once, and each module flushes it when it lets go of the writer. The file
// is open only while one flush writes to it.
//
// Lock order: m_flushLock before m_lock.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "framework/trace/trace.h"
#include "framework/platform/trace_platform.h"

class CTraceWriter {
public:
    // Throws std::bad_alloc when out of memory.
    explicit CTraceWriter(const WCHAR* path);
    // Stops the timer.
    ~CTraceWriter();

    // Appends text with every "\n", "\r" and "\r\n" written as "\r\n"; starts the flush
    // timer when none runs. Text that cannot be held is dropped. Any thread.
    void Append(const char* text);
    // Writes the pending text now, after a flush in progress.
    void Flush();
    // The flush of a module letting go: the flush lock is tried every 100 ms for up to
    // 1000 ms; without it nothing is written.
    void FlushOnRelease();
    // Stops the flush timer, waiting up to 1000 ms for a timer flush in progress. The next
    // append starts it again.
    void StopTimer();

    // The modules holding a count; guarded by the shared block's busy counter.
    int m_cModules = 0;

private:
    CTraceWriter(const CTraceWriter&) = delete;
    CTraceWriter& operator=(const CTraceWriter&) = delete;

    static void OnTimer(void* context);
    // Skipped while another flush runs or within 51 ms of the previous one.
    void TimerFlush();
    void FlushLocked();
    void WriteLocked(const std::string& text);
    // Moves the file into a folder named as its path; false when that cannot be done.
    bool FallBackToFolderLocked();

    const std::unique_ptr<CTraceLock> m_lock;
    const std::unique_ptr<CTraceLock> m_flushLock;

    // Guarded by m_lock.
    std::string m_pending;
    std::unique_ptr<CTraceTimer> m_timer;

    // Guarded by m_flushLock.
    WCHAR m_path[KTRACE_PATH_CHARS];
    bool m_fallbackAllowed = true;
    bool m_flushed = false;
    std::chrono::steady_clock::time_point m_lastFlush;
};

// A module's count on the process's writer for g_wszKTraceFile, found through the shared
// block named by TraceSharedBlockName. Constant-initialised, so usable from any static
// initialiser.
class CTraceModuleLink {
public:
    constexpr CTraceModuleLink() = default;

    // The writer, attaching to it (creating it when no module holds one) on first use.
    // Null when it cannot be had. Any thread.
    CTraceWriter* Writer();
    // The writer when attached, else null. Any thread.
    CTraceWriter* Attached() const { return m_writer.load(std::memory_order_acquire); }
    // Flushes, stops the timer and gives up the count; the last count frees the writer and
    // clears the block's pointer. No other call of this link may run meanwhile.
    void Release();

private:
    CTraceWriter* AttachLocked();

    std::atomic<CTraceWriter*> m_writer{nullptr};
    // Written while attaching and releasing, both under the module's attach lock.
    TraceSharedBlock* m_block = nullptr;
    void* m_blockHandle = nullptr;
};

// "%08X.%d.%S" of the process id, 642 and path with every "\" as "/".
std::wstring TraceSharedBlockName(DWORD processId, const WCHAR* path);
