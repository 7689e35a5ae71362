#include "fragments/http_client.h"

CHttpClient::CHttpClient(const char* userAgent) : UserAgent(userAgent ? userAgent : "") {}

CHttpClient::~CHttpClient() {
    CloseAll();
}

HRESULT CHttpClient::Open(const char* url, std::string* path) {
    CloseAll();
    HttpUrlParts parts;
    if (!ParseHttpUrl(url, &parts))
        return HRESULT_FROM_WIN32(ERROR_INTERNET_INVALID_URL);
    HRESULT hr = Connect(parts.HostName.c_str(), parts.Port,
                         parts.UserName.empty() ? nullptr : parts.UserName.c_str(),
                         parts.Password.empty() ? nullptr : parts.Password.c_str(), parts.Scheme);
    if (path)
        *path = parts.ObjectPath;
    return hr;
}

DWORD CHttpClient::RequestFlags() const {
    return Scheme == kSchemeHttps ? kRequestFlags | kFlagSecure : kRequestFlags;
}
