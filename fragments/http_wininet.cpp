// WinINet backend of CHttpClient.
#include "fragments/http_client.h"

#include <cstdlib>
#include <new>
#include <vector>

#include "framework/catch_out_of_memory.h"

namespace {

// Always from the server, never cached, no cookies, no UI, redirects reported but not
// followed.
constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                                INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_NO_AUTO_REDIRECT |
                                INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS |
                                INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTP | INTERNET_FLAG_NO_UI;
static_assert(kRequestFlags == 0x8468C200, "the request flags the filter has always sent");

HRESULT LastError() {
    return HRESULT_FROM_WIN32(GetLastError());
}

void CloseInternetHandle(HINTERNET* handle) {
    if (*handle)
        InternetCloseHandle(*handle);
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

struct CHttpClient::Impl {
    std::string UserAgent;
    DWORD Scheme = 0; // of the connection
    HINTERNET Internet = nullptr;
    HINTERNET Connection = nullptr;
    HINTERNET Request = nullptr;

    // The body of the request under way: what it declared and what arrived, and the
    // low-speed measurement (bytes since the tick its window began).
    bool HasLength = false;
    uint64_t DeclaredLength = 0;
    uint64_t Received = 0;
    DWORD WindowSeconds = kHttpDefaultLowSpeedWindowSeconds;
    DWORD WindowStartTick = 0;
    uint64_t WindowStartBytes = 0;

    ~Impl() { CloseAll(); }
    void CloseAll() {
        CloseInternetHandle(&Request);
        CloseInternetHandle(&Connection);
        CloseInternetHandle(&Internet);
    }
};

bool CrackHttpUrl(const char* url, HttpUrlParts* parts) {
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
    if (!InternetCrackUrlA(canonical.data(), 0, 0, &components))
        return false;
    parts->SchemeName = buffers.Scheme;
    parts->HostName = buffers.Host;
    parts->UserName = buffers.User;
    parts->Password = buffers.Password;
    parts->ObjectPath = buffers.Path;
    parts->Port = components.nPort;
    parts->Scheme = DWORD(components.nScheme);
    return true;
}

CHttpClient::CHttpClient(const char* userAgent) noexcept : m_pImpl(new (std::nothrow) Impl) {
    if (!m_pImpl)
        return;
    const HRESULT hr = CatchOutOfMemory([&] {
        m_pImpl->UserAgent = userAgent ? userAgent : "";
        return S_OK;
    });
    if (FAILED(hr))
        m_pImpl.reset();
}

CHttpClient::~CHttpClient() = default;

void CHttpClient::CloseAll() {
    if (m_pImpl)
        m_pImpl->CloseAll();
}

HRESULT CHttpClient::Connect(const char* host, WORD port, const char* userName,
                             const char* password, DWORD scheme) {
    if (!m_pImpl)
        return E_OUTOFMEMORY;
    Impl& impl = *m_pImpl;
    impl.CloseAll();
    impl.Scheme = scheme;
    impl.Internet =
        InternetOpenA(impl.UserAgent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (!impl.Internet)
        return LastError();
    impl.Connection = InternetConnectA(impl.Internet, host, port, userName, password,
                                       INTERNET_SERVICE_HTTP, 0, 0);
    if (!impl.Connection) {
        const HRESULT hr = LastError();
        impl.CloseAll();
        return hr;
    }
    return S_OK;
}

HRESULT CHttpClient::SendRequest(const char* path, const char* const* acceptTypes) {
    if (!m_pImpl)
        return E_OUTOFMEMORY;
    Impl& impl = *m_pImpl;
    CloseInternetHandle(&impl.Request);
    if (IsAborted())
        return E_ABORT;
    const DWORD flags =
        impl.Scheme == kHttpSchemeHttps ? kRequestFlags | INTERNET_FLAG_SECURE : kRequestFlags;
    impl.Request = HttpOpenRequestA(impl.Connection, "GET", path, "HTTP/1.0", nullptr,
                                    const_cast<const char**>(acceptTypes), flags, 0);
    if (!impl.Request)
        return LastError();
    // A socket read that waits a whole low-speed window fails with ERROR_INTERNET_TIMEOUT.
    impl.WindowSeconds = GetHttpLowSpeedWindow();
    DWORD receiveTimeoutMs = impl.WindowSeconds * 1000;
    InternetSetOptionA(impl.Request, INTERNET_OPTION_RECEIVE_TIMEOUT, &receiveTimeoutMs,
                       sizeof(receiveTimeoutMs));
    if (!HttpSendRequestA(impl.Request, nullptr, 0, nullptr, 0)) {
        const HRESULT hr = LastError();
        CloseInternetHandle(&impl.Request);
        return hr;
    }
    impl.HasLength = GetContentLength(&impl.DeclaredLength) == S_OK;
    impl.Received = 0;
    impl.WindowStartTick = GetTickCount();
    impl.WindowStartBytes = 0;
    return S_OK;
}

HRESULT CHttpClient::Read(void* buffer, DWORD size, DWORD* bytesRead) {
    *bytesRead = 0;
    if (!m_pImpl || !m_pImpl->Request)
        return HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE);
    Impl& impl = *m_pImpl;
    // A blocking read cannot be interrupted; the abort is seen when it returns.
    if (IsAborted())
        return E_ABORT;
    // A read asks only for what has arrived: a read for more may wait to fill the whole
    // buffer, which would hide a trickle from the low-speed rule.
    DWORD available = 0;
    if (!InternetQueryDataAvailable(impl.Request, &available, 0, 0))
        return LastError();
    if (available != 0 &&
        !InternetReadFile(impl.Request, buffer, available < size ? available : size, bytesRead))
        return LastError();
    impl.Received += *bytesRead;
    // Each window that ends must have brought its share; the 32-bit tick difference
    // survives a wrap of the counter.
    const DWORD elapsedMs = GetTickCount() - impl.WindowStartTick;
    if (elapsedMs >= impl.WindowSeconds * 1000) {
        const uint64_t needed = uint64_t(kHttpLowSpeedBytesPerSecond) * elapsedMs / 1000;
        if (impl.Received - impl.WindowStartBytes < needed)
            return HRESULT_FROM_WIN32(ERROR_INTERNET_TIMEOUT);
        impl.WindowStartTick += elapsedMs;
        impl.WindowStartBytes = impl.Received;
    }
    if (*bytesRead)
        return S_OK;
    if (impl.HasLength && impl.Received < impl.DeclaredLength)
        return HRESULT_FROM_WIN32(ERROR_INTERNET_CONNECTION_ABORTED);
    return S_FALSE;
}

HRESULT CHttpClient::GetStatusCode(DWORD* status) {
    *status = 0;
    char text[80] = {};
    DWORD length = sizeof(text);
    if (!HttpQueryInfoA(m_pImpl ? m_pImpl->Request : nullptr, HTTP_QUERY_STATUS_CODE, text, &length,
                        nullptr))
        return LastError();
    *status = DWORD(std::atoi(text));
    return S_OK;
}

HRESULT CHttpClient::GetContentLength(uint64_t* length) {
    *length = 0;
    char text[32] = {};
    DWORD size = sizeof(text);
    if (!HttpQueryInfoA(m_pImpl ? m_pImpl->Request : nullptr, HTTP_QUERY_CONTENT_LENGTH, text,
                        &size, nullptr)) {
        const DWORD error = GetLastError();
        return error == ERROR_HTTP_HEADER_NOT_FOUND ? S_FALSE : HRESULT_FROM_WIN32(error);
    }
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text, &end, 10);
    if (end == text || *end != '\0')
        return S_FALSE;
    *length = value;
    return S_OK;
}

HRESULT CHttpClient::GetRetryAfter(DWORD* seconds) {
    *seconds = 0;
    char text[64] = {};
    DWORD size = sizeof(text);
    if (!HttpQueryInfoA(m_pImpl ? m_pImpl->Request : nullptr, HTTP_QUERY_RETRY_AFTER, text, &size,
                        nullptr)) {
        const DWORD error = GetLastError();
        return error == ERROR_HTTP_HEADER_NOT_FOUND ? S_FALSE : HRESULT_FROM_WIN32(error);
    }
    // Only the delay in seconds is understood; an HTTP date is ignored.
    char* end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 10);
    if (end == text || *end != '\0' || value == 0)
        return S_FALSE;
    *seconds = value > 0xFFFF ? 0xFFFF : DWORD(value);
    return S_OK;
}
