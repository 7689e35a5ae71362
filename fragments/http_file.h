// A downloaded body: CHttpFile::Download fetches one URL into a temporary file and
// offers it for reading through a buffered stream.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "framework/platform/platform.h"

class CAMEvent;
class CBodyBuffer;
class CHttpTransferWatch;

// Body limits in bytes: a manifest's, and the least a fragment is allowed.
constexpr uint64_t kHttpManifestBodyLimit = 64ull << 20;
constexpr uint64_t kHttpMinFragmentBodyLimit = 16ull << 20;
// A transient failure is tried again this many times, after kHttpRetryDelaysMs, or
// after the response's Retry-After up to kHttpMaxRetryAfterSeconds.
constexpr int kHttpRetryCount = 2;
constexpr DWORD kHttpRetryDelaysMs[kHttpRetryCount] = {500, 1000};
constexpr DWORD kHttpMaxRetryAfterSeconds = 5;

// What the last failed attempt of a download met.
struct HttpFailure {
    HRESULT Result = S_OK;
    DWORD Status = 0; // the HTTP status; 0 when no response arrived
    std::string Url;
};

// Worth another attempt: a 5xx status, or a connection reset or closed before the
// response or the body was complete (a response without a status line included).
bool IsTransientHttpFailure(HRESULT hr, DWORD status);

class CHttpFile {
public:
    CHttpFile() = default;
    virtual ~CHttpFile();

    // S_OK with the body stored and the stream at its start; E_ACCESSDENIED on status
    // 401; 0x80070002 on any other status but 200; 0x800700DF (ERROR_FILE_TOO_LARGE)
    // when the declared Content-Length or the body exceeds maxBodyBytes (the former
    // before any of the body is read); 0x80072EE2 (ERROR_INTERNET_TIMEOUT) for a
    // transfer slower than the client's low-speed rule; else the transport or file
    // error or E_OUTOFMEMORY. On failure the file is closed and no temporary file is
    // left behind. Transient failures (IsTransientHttpFailure) are tried again up to
    // kHttpRetryCount times; the result is that of the last attempt. A set cancel event
    // ends a retry delay at once and with it the download (the last attempt's error).
    // The body's file never outlives its stream (CreateTempFile). With a body buffer,
    // the body is received into it and written to the file from there: the caller has
    // it in memory without reading the file back (empty after a failure).
    HRESULT Download(const char* url, uint64_t maxBodyBytes = kHttpManifestBodyLimit,
                     CAMEvent* cancel = nullptr, CBodyBuffer* body = nullptr);
    HRESULT Close();
    // Later downloads report their declared and received bytes to watch and end with
    // E_ABORT (no temporary file left) once it is aborted, retry delays included; null
    // for none. The watch must outlive them.
    void SetWatch(CHttpTransferWatch* watch) { m_pWatch = watch; }

    // The last failure of the latest Download (Result S_OK when it succeeded); kept
    // through Close, so a host can report "HTTP 503 from <url>".
    const HttpFailure& GetFailure() const { return m_failure; }
    // GetTickCount() when the latest Download's last attempt began.
    DWORD GetAttemptStartTick() const { return m_dwAttemptStartTick; }

    // Reaching the end of file is not an error: *bytesRead tells.
    HRESULT Read(void* buffer, size_t size, size_t* bytesRead);
    // origin: 0 start, 1 current position, 2 end.
    HRESULT Seek(int64_t offset, int origin);
    HRESULT GetLength(int64_t* length);

    FILE* Stream = nullptr;

private:
    CHttpFile(const CHttpFile&) = delete;
    CHttpFile& operator=(const CHttpFile&) = delete;

    // One attempt; *status receives the response's status, *retryAfterSeconds its
    // Retry-After (0 without one).
    HRESULT DownloadOnce(const char* url, uint64_t maxBodyBytes, CBodyBuffer* body,
                         DWORD* status, DWORD* retryAfterSeconds);
    // Waits delayMs, or less when cancel is set or the watch aborted: true then.
    bool WaitRetryDelay(DWORD delayMs, CAMEvent* cancel);
    HRESULT StoreBody(class CHttpClient* client, uint64_t declared, uint64_t maxBodyBytes,
                      CBodyBuffer* body);
    void RecordFailure(HRESULT hr, DWORD status, const char* url);
    HRESULT Flush();

    CHttpTransferWatch* m_pWatch = nullptr;
    HttpFailure m_failure;
    DWORD m_dwAttemptStartTick = 0;
};
