// CSampleLog: one JSON object per line for everything the play sinks receive,
// written as it arrives (several pin threads share the log).
#pragma once

#include <cstdio>
#include <mutex>
#include <string>

#include "framework/platform/platform.h"

class CSampleLog {
public:
    CSampleLog() = default;
    ~CSampleLog();

    // "-" is standard output. A file's lines end in "\n" on every platform. FALSE when
    // the file cannot be created.
    bool Open(const std::string& path);
    bool IsOpen() const { return m_file != nullptr; }

    // {"pin", "start", "stop", "size", "sync", "discontinuity", "preroll", "md5"}; times
    // are null where the sample carries none.
    void Sample(int pin, const REFERENCE_TIME* start, const REFERENCE_TIME* stop, const BYTE* data,
                size_t size, bool sync, bool discontinuity, bool preroll);
    void NewSegment(int pin, REFERENCE_TIME start, REFERENCE_TIME stop, double rate);
    // "beginflush", "endflush" or "eos".
    void Event(int pin, const char* name);
    void Error(HRESULT hr);
    void Close();

private:
    CSampleLog(const CSampleLog&) = delete;
    CSampleLog& operator=(const CSampleLog&) = delete;

    void WriteLine(const std::string& line);

    std::mutex m_lock;
    FILE* m_file = nullptr;
    bool m_ownsFile = false;
};
