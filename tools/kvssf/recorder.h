// The recording of kvssf play: one Matroska or MP4 file through libavformat.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "framework/platform/platform.h"
#include "tools/common/stream_recorder.h"

struct AVFormatContext;

// The recording as kvssf play drives it; CRecorder is the one implementation, built into
// the media module (tools/kvssf/media_module.h).
class IMediaRecorder : public IStreamRecorder {
public:
    virtual ~IMediaRecorder() = default;
    // The container follows the extension (".mkv", ".mp4", ...); "-" is Matroska on
    // standard output. E_INVALIDARG for a name libavformat cannot map.
    virtual HRESULT Open(const std::string& path) = 0;
    // A stream for a pin's media type: H.264 (avcC), VC-1, AAC, PCM, WMA, YUY2.
    // E_NOTIMPL for other types.
    virtual HRESULT AddStream(const AM_MEDIA_TYPE& type, int* index) = 0;
    // Once every stream is added, before the first sample.
    virtual HRESULT WriteHeader() = 0;
    // Writes the trailer and closes the file.
    virtual HRESULT Close() = 0;
    // Called (under the recorder's lock) on every write that fails because the reading
    // end of the output pipe was closed.
    virtual void SetPipeClosedHandler(std::function<void()> handler) = 0;
    // libavformat's last error text, for messages.
    virtual const std::string& LastError() const = 0;
};

// Writes the samples of every pin into one Matroska or MP4 file through libavformat,
// with each stream's codec set up from its pin's media type.
class CRecorder final : public IMediaRecorder {
public:
    CRecorder() = default;
    ~CRecorder() override;

    HRESULT Open(const std::string& path) override;
    HRESULT AddStream(const AM_MEDIA_TYPE& type, int* index) override;
    HRESULT WriteHeader() override;
    // One sample, times in 100 ns units. Safe from several threads.
    HRESULT Write(int index, const BYTE* data, size_t size, REFERENCE_TIME start,
                  REFERENCE_TIME stop, bool sync) override;
    HRESULT Close() override;
    void SetPipeClosedHandler(std::function<void()> handler) override {
        m_onPipeClosed = std::move(handler);
    }
    const std::string& LastError() const override { return m_lastError; }

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
