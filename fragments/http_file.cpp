#include "fragments/http_file.h"

#include <algorithm>
#include <new>

#include "fragments/body_buffer.h"
#include "fragments/http_client.h"
#include "framework/am_event.h"
#include "framework/catch_out_of_memory.h"

namespace {

constexpr const char* kUserAgent = "KVSsfRd/1.0";
// One receive block of the curl backend; bodies pass through a block of this size when
// the caller keeps none. Taken from the body pool: a fresh thread's stack would fault it
// in anew for every download.
constexpr DWORD kCopyBufferSize = 64 * 1024;
// A retry delay watched for an abort wakes this often.
constexpr DWORD kAbortCheckMs = 100;

// Before attempt + 2: the response's Retry-After (capped), else the fixed delay.
DWORD RetryDelayMs(int attempt, DWORD retryAfterSeconds) {
    if (retryAfterSeconds == 0)
        return kHttpRetryDelaysMs[attempt];
    return (retryAfterSeconds < kHttpMaxRetryAfterSeconds ? retryAfterSeconds
                                                          : kHttpMaxRetryAfterSeconds) *
           1000;
}

} // namespace

CHttpFile::~CHttpFile() {
    Close();
}

bool IsTransientHttpFailure(HRESULT hr, DWORD status) {
    if (status >= 500 && status <= 599)
        return true;
    // A request answered without a status line: WinINet's view of a connection closed
    // or reset before the response.
    if (status == 0 && hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND))
        return true;
    return hr == HRESULT_FROM_WIN32(ERROR_INTERNET_CONNECTION_RESET) ||
           hr == HRESULT_FROM_WIN32(ERROR_INTERNET_CONNECTION_ABORTED) ||
           hr == HRESULT_FROM_WIN32(ERROR_HTTP_INVALID_SERVER_RESPONSE);
}

HRESULT CHttpFile::Download(const char* url, uint64_t maxBodyBytes, CAMEvent* cancel,
                            CBodyBuffer* body) {
    Close();
    m_failure.Result = S_OK;
    m_failure.Status = 0;
    m_failure.Url.clear();
    for (int attempt = 0;; ++attempt) {
        m_dwAttemptStartTick = GetTickCount();
        DWORD status = 0;
        DWORD retryAfterSeconds = 0;
        const HRESULT hr = DownloadOnce(url, maxBodyBytes, body, &status, &retryAfterSeconds);
        if (SUCCEEDED(hr)) {
            m_failure.Result = S_OK;
            m_failure.Status = 0;
            m_failure.Url.clear();
            return hr;
        }
        RecordFailure(hr, status, url);
        if (attempt == kHttpRetryCount || !IsTransientHttpFailure(hr, status))
            return hr;
        if (WaitRetryDelay(RetryDelayMs(attempt, retryAfterSeconds), cancel))
            return m_pWatch != nullptr && m_pWatch->IsAborted() ? E_ABORT : hr;
    }
}

bool CHttpFile::WaitRetryDelay(DWORD delayMs, CAMEvent* cancel) {
    CAMEvent timer(TRUE);
    CAMEvent* event = cancel != nullptr ? cancel : &timer;
    if (m_pWatch == nullptr)
        return event->Wait(delayMs) != FALSE;
    const DWORD startTick = GetTickCount();
    for (;;) {
        if (m_pWatch->IsAborted())
            return true;
        const DWORD elapsedMs = GetTickCount() - startTick;
        if (elapsedMs >= delayMs)
            return false;
        const DWORD sliceMs =
            delayMs - elapsedMs < kAbortCheckMs ? delayMs - elapsedMs : kAbortCheckMs;
        if (event->Wait(sliceMs))
            return true;
    }
}

void CHttpFile::RecordFailure(HRESULT hr, DWORD status, const char* url) {
    m_failure.Result = hr;
    m_failure.Status = status;
    try {
        m_failure.Url = url ? url : "";
    } catch (const std::bad_alloc&) {
        m_failure.Url.clear(); // the report is best effort; the download's error stands
    }
}

HRESULT CHttpFile::DownloadOnce(const char* url, uint64_t maxBodyBytes, CBodyBuffer* body,
                                DWORD* status, DWORD* retryAfterSeconds) {
    if (body != nullptr)
        body->Resize(0);
    CHttpClient client(kUserAgent);
    client.SetWatch(m_pWatch);
    std::string path;
    HRESULT hr = client.Open(url, &path);
    if (FAILED(hr))
        return hr;
    hr = client.SendRequest(path.c_str(), nullptr);
    if (FAILED(hr))
        return hr;
    hr = client.GetStatusCode(status);
    if (FAILED(hr))
        return hr;
    if (*status == 401)
        return E_ACCESSDENIED;
    if (*status != 200) {
        client.GetRetryAfter(retryAfterSeconds);
        return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    }
    uint64_t declared = 0;
    if (client.GetContentLength(&declared) == S_OK && declared > maxBodyBytes)
        return HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
    if (m_pWatch != nullptr)
        m_pWatch->AddExpected(declared);
    hr = StoreBody(&client, declared, maxBodyBytes, body);
    if (FAILED(hr)) {
        Close(); // a partial body is never left behind
        if (body != nullptr)
            body->Resize(0);
    }
    return hr;
}

HRESULT CHttpFile::StoreBody(CHttpClient* client, uint64_t declared, uint64_t maxBodyBytes,
                             CBodyBuffer* body) {
    HRESULT hr = CatchOutOfMemory([&] { return CreateTempFile(&Stream); });
    if (FAILED(hr))
        return hr;

    // Without a body buffer of the caller's, blocks pass through one of our own.
    CBodyBuffer copy;
    CBodyBuffer* const target = body != nullptr ? body : &copy;
    // The declared length and one byte more, so that the end is read without growing;
    // a larger declaration is only believed as the bytes arrive.
    const uint64_t expected = body != nullptr && declared != 0
                                  ? std::min(declared, kHttpMinFragmentBodyLimit) + 1
                                  : kCopyBufferSize;
    hr = target->Reserve(size_t(expected));
    if (FAILED(hr))
        return hr;
    DWORD count = 0;
    uint64_t stored = 0;
    for (;;) {
        if (body != nullptr && body->Capacity() == body->Size()) {
            hr = body->Reserve(body->Capacity() * 2);
            if (FAILED(hr))
                return hr;
        }
        const size_t offset = body != nullptr ? body->Size() : 0;
        const size_t room = target->Capacity() - offset;
        BYTE* const buffer = target->Data() + offset;
        hr = client->Read(buffer, room < 0xFFFFFFFF ? DWORD(room) : 0xFFFFFFFF, &count);
        if (hr != S_OK)
            break;
        stored += count;
        if (m_pWatch != nullptr) {
            m_pWatch->AddReceived(count);
            if (m_pWatch->IsAborted())
                return E_ABORT;
        }
        if (stored > maxBodyBytes)
            return HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
        ClearCrtError();
        if (std::fwrite(buffer, 1, count, Stream) != count) {
            hr = HresultFromCrtError();
            return FAILED(hr) ? hr : E_FAIL;
        }
        if (body != nullptr)
            body->Resize(offset + count); // within the capacity: keeps the bytes
    }
    if (FAILED(hr))
        return hr;
    hr = Flush();
    if (FAILED(hr))
        return hr;
    return Seek(0, SEEK_SET);
}

HRESULT CHttpFile::Close() {
    if (Stream) {
        CloseTempFile(Stream);
        Stream = nullptr;
    }
    return S_OK;
}

HRESULT CHttpFile::Read(void* buffer, size_t size, size_t* bytesRead) {
    ClearCrtError();
    size_t count = std::fread(buffer, 1, size, Stream);
    if (bytesRead)
        *bytesRead = count;
    return std::ferror(Stream) ? HresultFromCrtError() : S_OK;
}

HRESULT CHttpFile::Seek(int64_t offset, int origin) {
    ClearCrtError();
    return SeekStream(Stream, offset, origin) == 0 ? S_OK : HresultFromCrtError();
}

HRESULT CHttpFile::GetLength(int64_t* length) {
    ClearCrtError();
    long long bytes = GetStreamLength(Stream);
    if (bytes < 0) {
        *length = 0;
        HRESULT hr = HresultFromCrtError();
        return FAILED(hr) ? hr : E_FAIL;
    }
    *length = bytes;
    return S_OK;
}

HRESULT CHttpFile::Flush() {
    ClearCrtError();
    return std::fflush(Stream) == 0 ? S_OK : HresultFromCrtError();
}
