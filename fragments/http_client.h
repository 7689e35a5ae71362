// One HTTP GET over the platform HTTP library. One instance per download; the backend
// (http_wininet.cpp or http_curl.cpp) is chosen by the build.
#pragma once

#include <string>

#include "framework/platform/platform.h"

class CHttpClient {
public:
    explicit CHttpClient(const char* userAgent);
    // Closes Request, then Connection, then InternetHandle (each only when open).
    virtual ~CHttpClient();

    // Parses url and connects to its host. Returns the object path (path and query) in
    // *path. 0x80072EE5 when the URL cannot be parsed; else Connect's result.
    virtual HRESULT Open(const char* url, std::string* path);
    // Closes all handles, then opens the root handle and the connection.
    virtual HRESULT Connect(const char* host, WORD port, const char* userName, const char* password,
                            DWORD scheme);
    // Opens and sends a "GET path HTTP/1.0" request; acceptTypes is a null-terminated
    // list of media types, or null.
    virtual HRESULT SendRequest(const char* path, const char* const* acceptTypes);
    // S_OK when at least one byte was read, S_FALSE at the end of the body.
    virtual HRESULT Read(void* buffer, DWORD size, DWORD* bytesRead);
    virtual HRESULT GetStatusCode(DWORD* status);

    std::string UserAgent;
    // Scheme code of the last opened URL (3 http, 4 https).
    DWORD Scheme = 0;
    // Platform handles; on WinINet HINTERNETs, on libcurl the backend's own objects.
    void* InternetHandle = nullptr;
    void* Connection = nullptr;
    void* Request = nullptr;

    static constexpr DWORD kSchemeHttp = 3;  // INTERNET_SCHEME_HTTP
    static constexpr DWORD kSchemeHttps = 4; // INTERNET_SCHEME_HTTPS

    // Always from the server, never cached, no cookies, no UI, redirects reported but not
    // followed; kFlagSecure is added for https.
    static constexpr DWORD kRequestFlags = 0x8468C200;
    static constexpr DWORD kFlagSecure = 0x00800000; // INTERNET_FLAG_SECURE
    // The flags of the next request, from Scheme.
    DWORD RequestFlags() const;

private:
    CHttpClient(const CHttpClient&) = delete;
    CHttpClient& operator=(const CHttpClient&) = delete;

    // Backend: close Request, or all three handles in reverse order of opening.
    void CloseRequest();
    void CloseAll();
};

// URL parts as the platform URL cracker reports them, with the kvssf/kvssfs schemes
// mapped to http/https. Shared by both backends' Open.
struct HttpUrlParts {
    std::string SchemeName;
    std::string HostName;
    std::string UserName;
    std::string Password;
    std::string ObjectPath; // path and query
    WORD Port = 0;          // the scheme's default when the URL has none
    DWORD Scheme = DWORD(-1);
};

// Canonicalizes and cracks url; false when it cannot be parsed or a part exceeds its
// limit (scheme 32, host 256, user and password 128, path and query 2,048 characters).
bool ParseHttpUrl(const char* url, HttpUrlParts* parts);
