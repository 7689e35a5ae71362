// WinINet backend of CHttpClient.
#include "fragments/http_client.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

HRESULT LastError() {
    return HRESULT_FROM_WIN32(GetLastError());
}

void CloseInternetHandle(void** handle) {
    if (*handle)
        InternetCloseHandle(static_cast<HINTERNET>(*handle));
    *handle = nullptr;
}

// Buffers sized to the part limits, plus the terminating NUL.
struct CrackBuffers {
    char Scheme[32 + 1];
    char Host[256 + 1];
    char User[128 + 1];
    char Password[128 + 1];
    char Path[2048 + 1];
};

} // namespace

bool ParseHttpUrl(const char* url, HttpUrlParts* parts) {
    *parts = HttpUrlParts();
    if (!url)
        return false;

    std::vector<char> canonical(2084 + 1);
    DWORD length = DWORD(canonical.size());
    if (!InternetCanonicalizeUrlA(url, canonical.data(), &length, ICU_BROWSER_MODE)) {
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER)
            return false;
        canonical.resize(length + 1);
        length = DWORD(canonical.size());
        if (!InternetCanonicalizeUrlA(url, canonical.data(), &length, ICU_BROWSER_MODE))
            return false;
    }

    CrackBuffers buffers = {};
    URL_COMPONENTSA components = {};
    components.dwStructSize = sizeof(components);
    components.lpszScheme = buffers.Scheme;
    components.dwSchemeLength = sizeof(buffers.Scheme);
    components.lpszHostName = buffers.Host;
    components.dwHostNameLength = sizeof(buffers.Host);
    components.lpszUserName = buffers.User;
    components.dwUserNameLength = sizeof(buffers.User);
    components.lpszPassword = buffers.Password;
    components.dwPasswordLength = sizeof(buffers.Password);
    components.lpszUrlPath = buffers.Path;
    components.dwUrlPathLength = sizeof(buffers.Path);
    bool cracked = InternetCrackUrlA(canonical.data(), 0, 0, &components) != FALSE;

    parts->SchemeName = buffers.Scheme;
    if (cracked) {
        parts->HostName = buffers.Host;
        parts->UserName = buffers.User;
        parts->Password = buffers.Password;
        parts->ObjectPath = buffers.Path;
        parts->Port = components.nPort;
        parts->Scheme = DWORD(components.nScheme);
    }
    // The filter's own schemes are fetched as http and https; the cracker knows no
    // default port for them.
    if (lstrcmpiA(buffers.Scheme, "kvssf") == 0) {
        parts->Scheme = CHttpClient::kSchemeHttp;
        if (cracked && parts->Port == 0)
            parts->Port = INTERNET_DEFAULT_HTTP_PORT;
    } else if (lstrcmpiA(buffers.Scheme, "kvssfs") == 0) {
        parts->Scheme = CHttpClient::kSchemeHttps;
        if (cracked && parts->Port == 0)
            parts->Port = INTERNET_DEFAULT_HTTPS_PORT;
    }
    return cracked;
}

void CHttpClient::CloseRequest() {
    CloseInternetHandle(&Request);
}

void CHttpClient::CloseAll() {
    CloseInternetHandle(&Request);
    CloseInternetHandle(&Connection);
    CloseInternetHandle(&InternetHandle);
}

HRESULT CHttpClient::Connect(const char* host, WORD port, const char* userName,
                             const char* password, DWORD scheme) {
    CloseAll();
    Scheme = scheme;
    InternetHandle =
        InternetOpenA(UserAgent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (!InternetHandle)
        return LastError();
    Connection = InternetConnectA(static_cast<HINTERNET>(InternetHandle), host, port, userName,
                                  password, INTERNET_SERVICE_HTTP, 0, 0);
    if (!Connection) {
        HRESULT hr = LastError();
        CloseAll();
        return hr;
    }
    return S_OK;
}

HRESULT CHttpClient::SendRequest(const char* path, const char* const* acceptTypes) {
    CloseRequest();
    Request = HttpOpenRequestA(static_cast<HINTERNET>(Connection), "GET", path, "HTTP/1.0", nullptr,
                               const_cast<const char**>(acceptTypes), RequestFlags(), 0);
    if (!Request)
        return LastError();
    if (!HttpSendRequestA(static_cast<HINTERNET>(Request), nullptr, 0, nullptr, 0)) {
        HRESULT hr = LastError();
        CloseRequest();
        return hr;
    }
    return S_OK;
}

HRESULT CHttpClient::Read(void* buffer, DWORD size, DWORD* bytesRead) {
    *bytesRead = 0;
    if (!InternetReadFile(static_cast<HINTERNET>(Request), buffer, size, bytesRead))
        return LastError();
    return *bytesRead ? S_OK : S_FALSE;
}

HRESULT CHttpClient::GetStatusCode(DWORD* status) {
    *status = 0;
    char text[80] = {};
    DWORD length = sizeof(text);
    if (!HttpQueryInfoA(static_cast<HINTERNET>(Request), HTTP_QUERY_STATUS_CODE, text, &length,
                        nullptr))
        return LastError();
    *status = DWORD(std::atoi(text));
    return S_OK;
}
