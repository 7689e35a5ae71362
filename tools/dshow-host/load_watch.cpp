#include "tools/dshow-host/load_watch.h"

#include <cstdio>

namespace {
// IAMOpenProgress has no notification: a host asks it, here ten times a second.
constexpr std::chrono::milliseconds kQueryInterval(100);
} // namespace

CLoadWatch::CLoadWatch(IAMOpenProgress* progress, const char* program, bool quiet,
                       double abortAfter)
    : m_progress(progress), m_program(program), m_quiet(quiet),
      m_abortAt(abortAfter < 0 ? Clock::time_point::max()
                               : Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                    std::chrono::duration<double>(abortAfter))) {
    if (m_progress)
        m_thread = std::thread(&CLoadWatch::Watch, this);
}

CLoadWatch::~CLoadWatch() {
    if (!m_thread.joinable())
        return;
    const Clock::time_point ended = Clock::now();
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_done = true;
    }
    m_changed.notify_all();
    m_thread.join();
    if (m_abortMade)
        std::fprintf(stderr, "%s: the load ended %.3f s after the abort\n", m_program,
                     std::chrono::duration<double>(ended - m_aborted).count());
}

void CLoadWatch::Watch() {
    LONGLONG shown = -1;
    std::unique_lock<std::mutex> hold(m_lock);
    while (!m_done) {
        LONGLONG total = 0, current = 0;
        if (!m_quiet && m_progress->QueryProgress(&total, &current) == S_OK && current != shown) {
            std::fprintf(stderr, "%s: loading: %lld of %lld bytes\n", m_program,
                         static_cast<long long>(current), static_cast<long long>(total));
            shown = current;
        }
        if (!m_abortMade && Clock::now() >= m_abortAt) {
            m_aborted = Clock::now();
            m_abortMade = true;
            const HRESULT hr = m_progress->AbortOperation();
            std::fprintf(stderr, "%s: load aborted (0x%08lX)\n", m_program,
                         static_cast<unsigned long>(hr));
        }
        m_changed.wait_for(hold, kQueryInterval);
    }
}
