#include "manifest/failure_trace.h"

#include <cstdio>

#include "framework/trace/trace.h"

void TraceDownloadFailure(const std::string& what, HRESULT hr, DWORD status,
                          const std::string& url) {
    if (!(g_dwKTraceSwitch & KTRACE_ON))
        return;
    char statusText[32] = "no HTTP status";
    if (status != 0)
        std::snprintf(statusText, sizeof statusText, "HTTP %lu",
                      static_cast<unsigned long>(status));
    // Flushed at once: a failure is often the last thing a process traces.
    KTraceAndFlush("\nKVSsfRd: %s failed: %s, 0x%08X %s, %s", what.c_str(), statusText,
                   static_cast<unsigned>(hr), KTraceErrorName(hr), url.c_str());
}
