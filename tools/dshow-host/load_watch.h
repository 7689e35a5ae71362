// CLoadWatch: what a host shows while the source's Load downloads: a thread of its own
// reads the source's IAMOpenProgress and prints each change of the bytes received, and
// after a given time asks the source to abort the load.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "framework/com_ptr.h"
#include "framework/platform/platform.h"

class CLoadWatch {
public:
    // progress may be null (nothing to watch). abortAfter: seconds from now, < 0 for
    // never. Prints "<program>: loading: C of T bytes" unless quiet.
    CLoadWatch(IAMOpenProgress* progress, const char* program, bool quiet, double abortAfter);
    // Ends the watch; with an abort made, prints how long Load took to return after it.
    ~CLoadWatch();

private:
    CLoadWatch(const CLoadWatch&) = delete;
    CLoadWatch& operator=(const CLoadWatch&) = delete;

    void Watch();

    using Clock = std::chrono::steady_clock;
    ComPtr<IAMOpenProgress> m_progress;
    const char* const m_program;
    const bool m_quiet;
    Clock::time_point m_abortAt;
    Clock::time_point m_aborted;
    bool m_abortMade = false;
    std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_done = false;
    std::thread m_thread;
};
