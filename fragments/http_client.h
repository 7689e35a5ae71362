// One HTTP GET over the platform HTTP library. One instance per download; the backend
// (http_wininet.cpp or http_curl.cpp) is chosen by the build and holds its handles in
// Impl. No operation throws: running out of memory is E_OUTOFMEMORY.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "fragments/http_url.h"
#include "framework/platform/platform.h"

// Slower transfers fail: bytes per second, averaged over the low-speed window.
constexpr DWORD kHttpLowSpeedBytesPerSecond = 1024;
constexpr DWORD kHttpDefaultLowSpeedWindowSeconds = 30;

// The low-speed window, process-wide, for the requests sent after the call; tests shorten
// it. 0 restores the default.
void SetHttpLowSpeedWindow(DWORD seconds);
DWORD GetHttpLowSpeedWindow();

// Watches downloads from another thread: the bytes their responses declared and the
// bytes that arrived, and an abort that ends every transfer given this watch with
// E_ABORT. All members are thread-safe; the watch outlives the downloads given it.
class CHttpTransferWatch {
public:
    void Abort() { m_bAborted.store(true); }
    bool IsAborted() const { return m_bAborted.load(); }
    // Clears the counts and the abort, for a new operation.
    void Restart() {
        m_bAborted.store(false);
        m_cbExpected.store(0);
        m_cbReceived.store(0);
    }
    void AddExpected(uint64_t bytes) { m_cbExpected.fetch_add(bytes); }
    void AddReceived(uint64_t bytes) { m_cbReceived.fetch_add(bytes); }
    uint64_t Expected() const { return m_cbExpected.load(); }
    uint64_t Received() const { return m_cbReceived.load(); }

private:
    std::atomic<bool> m_bAborted{false};
    std::atomic<uint64_t> m_cbExpected{0};
    std::atomic<uint64_t> m_cbReceived{0};
};

class CHttpClient {
public:
    // Running out of memory here leaves a client whose operations fail with E_OUTOFMEMORY.
    explicit CHttpClient(const char* userAgent) noexcept;
    // Closes the request, then the connection, then the root handle (each only when open).
    virtual ~CHttpClient();

    // Parses url (ParseHttpUrl) and connects to its host. Returns the object path (path
    // and query) in *path. 0x80072EE5 when the URL cannot be parsed; else Connect's
    // result.
    virtual HRESULT Open(const char* url, std::string* path);
    // Closes all handles, then opens the root handle and the connection; port 0 is the
    // scheme's default. scheme: kHttpSchemeHttps requests over TLS, any other value over
    // plain HTTP.
    virtual HRESULT Connect(const char* host, WORD port, const char* userName, const char* password,
                            DWORD scheme);
    // Opens and sends a "GET path HTTP/1.0" request, always from the server, without
    // cookies, redirects reported but not followed; acceptTypes is a null-terminated list
    // of media types, or null.
    virtual HRESULT SendRequest(const char* path, const char* const* acceptTypes);
    // S_OK when at least one byte was read, S_FALSE at the end of the body. A transfer
    // averaging under kHttpLowSpeedBytesPerSecond over GetHttpLowSpeedWindow() seconds
    // fails with 0x80072EE2 (ERROR_INTERNET_TIMEOUT); a body that ends short of its
    // declared length with 0x80072EFE (ERROR_INTERNET_CONNECTION_ABORTED).
    virtual HRESULT Read(void* buffer, DWORD size, DWORD* bytesRead);
    virtual HRESULT GetStatusCode(DWORD* status);
    // The response's declared Content-Length: S_OK, or S_FALSE (*length 0) without one.
    virtual HRESULT GetContentLength(uint64_t* length);
    // The response's Retry-After in seconds: S_OK, or S_FALSE (*seconds 0) without a
    // usable one.
    virtual HRESULT GetRetryAfter(DWORD* seconds);
    // Requests sent and bodies read after the call end with E_ABORT soon after watch is
    // aborted (within about 100 ms while waiting on the network); null for none.
    void SetWatch(const CHttpTransferWatch* watch) { m_pWatch = watch; }

protected:
    bool IsAborted() const { return m_pWatch != nullptr && m_pWatch->IsAborted(); }

private:
    CHttpClient(const CHttpClient&) = delete;
    CHttpClient& operator=(const CHttpClient&) = delete;

    // Backend: closes every handle of the client.
    void CloseAll();

    struct Impl;
    std::unique_ptr<Impl> m_pImpl; // null only when the constructor ran out of memory
    const CHttpTransferWatch* m_pWatch = nullptr;
};
