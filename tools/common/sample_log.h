// CSampleLog: one JSON object per line for everything the play sinks receive,
// written as it arrives (several pin threads share the log).
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>

#include "framework/platform/platform.h"

// What a sink reads off a received sample.
struct ReceivedSample {
    // The sample's fields; start and stop are valid where HasStart and HasStop say so.
    explicit ReceivedSample(IMediaSample* sample);

    BYTE* Data = nullptr;
    size_t Size = 0;
    REFERENCE_TIME Start = 0, Stop = 0;
    bool HasStart = false, HasStop = false;
    bool Sync = false, Discontinuity = false, Preroll = false;
    // The bit rate of the quality level a decoded frame came from; 0: not known.
    uint32_t Level = 0;
};

class CSampleLog {
public:
    CSampleLog() = default;
    ~CSampleLog();

    // "-" is standard output. A file's lines end in "\n" on every platform. FALSE when
    // the file cannot be created.
    bool Open(const std::string& path);
    bool IsOpen() const { return m_file != nullptr; }
    // Called (on the writing thread, under the log's lock) on every line that fails
    // because the reading end of the log's pipe was closed.
    void SetPipeClosedHandler(std::function<void()> handler) {
        m_onPipeClosed = std::move(handler);
    }

    // {"pin", "start", "stop", "size", "sync", "discontinuity", "preroll", "md5"}, then
    // "level" when known; times are null where the sample carries none.
    void Sample(int pin, const ReceivedSample& sample);
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
    std::function<void()> m_onPipeClosed;
};
