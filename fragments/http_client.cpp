#include "fragments/http_client.h"

#include <atomic>

namespace {

std::atomic<DWORD> g_lowSpeedWindowSeconds{kHttpDefaultLowSpeedWindowSeconds};

} // namespace

void SetHttpLowSpeedWindow(DWORD seconds) {
    g_lowSpeedWindowSeconds.store(seconds ? seconds : kHttpDefaultLowSpeedWindowSeconds);
}

DWORD GetHttpLowSpeedWindow() {
    return g_lowSpeedWindowSeconds.load();
}

HRESULT CHttpClient::Open(const char* url, std::string* path) {
    CloseAll();
    HttpUrlParts parts;
    HRESULT hr = ParseHttpUrl(url, &parts);
    if (FAILED(hr))
        return hr;
    hr = Connect(parts.HostName.c_str(), parts.Port,
                 parts.UserName.empty() ? nullptr : parts.UserName.c_str(),
                 parts.Password.empty() ? nullptr : parts.Password.c_str(), parts.Scheme);
    if (path)
        path->swap(parts.ObjectPath);
    return hr;
}
