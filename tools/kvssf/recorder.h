// CRecorder: writes the samples of every pin into one Matroska or MP4 file through
// libavformat, with each stream's codec set up from its pin's media type.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "framework/platform/platform.h"
#include "tools/common/stream_recorder.h"

struct AVFormatContext;

class CRecorder final : public IStreamRecorder {
public:
    CRecorder() = default;
    ~CRecorder();

    // The container follows the extension (".mkv", ".mp4", ...); "-" is Matroska on
    // standard output. E_INVALIDARG for a name libavformat cannot map.
    HRESULT Open(const std::string& path);
    // A stream for a pin's media type: H.264 (avcC), VC-1, AAC, PCM, WMA, YUY2.
    // E_NOTIMPL for other types.
    HRESULT AddStream(const AM_MEDIA_TYPE& type, int* index);
    // Once every stream is added, before the first sample.
    HRESULT WriteHeader();
    // One sample, times in 100 ns units. Safe from several threads.
    HRESULT Write(int index, const BYTE* data, size_t size, REFERENCE_TIME start,
                  REFERENCE_TIME stop, bool sync) override;
    // Writes the trailer and closes the file.
    HRESULT Close();

    // Called (under the recorder's lock) on every write that fails because the reading
    // end of the output pipe was closed.
    void SetPipeClosedHandler(std::function<void()> handler) {
        m_onPipeClosed = std::move(handler);
    }

    // libavformat's last error text, for messages.
    const std::string& LastError() const { return m_lastError; }

private:
    CRecorder(const CRecorder&) = delete;
    CRecorder& operator=(const CRecorder&) = delete;

    HRESULT Fail(int error, const char* what);

    std::mutex m_lock;
    AVFormatContext* m_context = nullptr;
    bool m_headerWritten = false;
    std::string m_lastError;
    std::function<void()> m_onPipeClosed;
};
