// libcurl backend of CHttpClient. The multi interface drives the one transfer of a
// request only from within the client's calls: received bytes go straight into the buffer
// Read was given; a block that does not fit leaves its rest in a spill buffer of at most
// one block, and the transfer is paused while nobody reads.
#include "fragments/http_client.h"

#include "framework/catch_out_of_memory.h"

#include <curl/curl.h>
#include <strings.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

namespace {

// Where requests go.
struct CurlConnection {
    std::string Host;
    WORD Port = 0;
    bool HasUser = false;
    bool HasPassword = false;
    std::string UserName;
    std::string Password;
    DWORD Scheme = 0;
};

// Bytes libcurl receives per block at most: its receive buffer.
constexpr long kReceiveBufferSize = 64 * 1024;

// One transfer and the body bytes received but not yet read.
struct CurlRequest {
    CURLM* Multi = nullptr;
    CURL* Easy = nullptr;
    curl_slist* Headers = nullptr;
    // The caller's buffer during Read: body blocks are copied here first.
    char* Target = nullptr;
    size_t TargetSize = 0;
    size_t TargetFilled = 0;
    // The rest of a block that did not fit the target; read before anything else. Its
    // capacity is kept, so it is allocated once per request.
    std::vector<char> Spill;
    size_t SpillOffset = 0;
    bool Paused = false; // the body callback paused the transfer: nobody was reading
    bool HeadersDone = false;
    bool Done = false;
    CURLcode Result = CURLE_OK;
    bool Failed = false;      // the multi interface itself failed
    bool OutOfMemory = false; // a received block could not be kept
    bool Aborted = false;     // the client's watch was aborted
    const CHttpTransferWatch* Watch = nullptr;

    ~CurlRequest() {
        if (Easy) {
            curl_multi_remove_handle(Multi, Easy);
            curl_easy_cleanup(Easy);
        }
        curl_slist_free_all(Headers);
    }
    size_t Spilled() const { return Spill.size() - SpillOffset; }
};

// Seconds before the platform gives up connecting, as the Windows HTTP stack does by
// default.
constexpr long kConnectTimeout = 60;

void InitializeCurl() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// WinINet's code for the same condition, so callers see one set of errors.
DWORD Win32FromCurl(CURLcode code, CURL* easy) {
    switch (code) {
    case CURLE_OK:
        return ERROR_SUCCESS;
    case CURLE_UNSUPPORTED_PROTOCOL:
        return ERROR_INTERNET_UNRECOGNIZED_SCHEME;
    case CURLE_URL_MALFORMAT:
        return ERROR_INTERNET_INVALID_URL;
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
        return ERROR_INTERNET_NAME_NOT_RESOLVED;
    case CURLE_COULDNT_CONNECT:
        return ERROR_INTERNET_CANNOT_CONNECT;
    case CURLE_OPERATION_TIMEDOUT:
        return ERROR_INTERNET_TIMEOUT;
    case CURLE_PEER_FAILED_VERIFICATION: {
        long verify = 0;
        if (easy)
            curl_easy_getinfo(easy, CURLINFO_SSL_VERIFYRESULT, &verify);
        if (verify == 62) // X509_V_ERR_HOSTNAME_MISMATCH
            return ERROR_INTERNET_SEC_CERT_CN_INVALID;
        if (verify == 9 || verify == 10) // not yet valid, expired
            return ERROR_INTERNET_SEC_CERT_DATE_INVALID;
        return ERROR_INTERNET_INVALID_CA;
    }
    case CURLE_SSL_CACERT_BADFILE:
        return ERROR_INTERNET_INVALID_CA;
    case CURLE_SSL_CONNECT_ERROR:
        return ERROR_INTERNET_SECURITY_CHANNEL_ERROR;
    case CURLE_GOT_NOTHING:
    case CURLE_WEIRD_SERVER_REPLY:
        return ERROR_HTTP_INVALID_SERVER_RESPONSE;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
        return ERROR_INTERNET_CONNECTION_RESET;
    case CURLE_PARTIAL_FILE:
        return ERROR_INTERNET_CONNECTION_ABORTED;
    case CURLE_OUT_OF_MEMORY:
        return ERROR_NOT_ENOUGH_MEMORY;
    case CURLE_ABORTED_BY_CALLBACK:
        return ERROR_INTERNET_OPERATION_CANCELLED;
    default:
        return ERROR_INTERNET_INTERNAL_ERROR;
    }
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
    auto* request = static_cast<CurlRequest*>(user);
    const size_t bytes = size * count;
    // Body bytes end the headers, also of a reply whose blank line libcurl did without:
    // a wait for the headers must not outlast a paused body.
    request->HeadersDone = true;
    const size_t room = request->TargetSize - request->TargetFilled;
    // Nothing taken: libcurl holds the block and hands it over again once resumed.
    if (room == 0 || request->Spilled() != 0) {
        request->Paused = true;
        return CURL_WRITEFUNC_PAUSE;
    }
    const size_t taken = bytes < room ? bytes : room;
    std::memcpy(request->Target + request->TargetFilled, data, taken);
    request->TargetFilled += taken;
    if (taken == bytes)
        return bytes;
    // No exception may cross libcurl: a block that cannot be kept ends the transfer.
    const HRESULT hr = CatchOutOfMemory([&] {
        request->Spill.assign(data + taken, data + bytes);
        request->SpillOffset = 0;
        return S_OK;
    });
    if (FAILED(hr)) {
        request->OutOfMemory = true;
        return 0;
    }
    return bytes;
}

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
    auto* request = static_cast<CurlRequest*>(user);
    size_t bytes = size * count;
    bool blank =
        (bytes == 2 && data[0] == '\r' && data[1] == '\n') || (bytes == 1 && data[0] == '\n');
    if (blank) {
        long status = 0;
        curl_easy_getinfo(request->Easy, CURLINFO_RESPONSE_CODE, &status);
        if (status >= 200) // an interim 1xx block is followed by the real one
            request->HeadersDone = true;
    }
    return bytes;
}

// One round of the transfer: lets libcurl work and collects its completion.
void Pump(CurlRequest* request) {
    int running = 0;
    if (curl_multi_perform(request->Multi, &running) != CURLM_OK) {
        request->Failed = request->Done = true;
        return;
    }
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(request->Multi, &left)) {
        if (message->msg == CURLMSG_DONE && message->easy_handle == request->Easy) {
            request->Done = true;
            request->Result = message->data.result;
        }
    }
}

// Pumps until ready(request) holds, the transfer ends or the watch is aborted, sleeping
// on the socket between rounds (shorter with a watch, so an abort is seen soon).
template <class Ready> void PumpUntil(CurlRequest* request, Ready ready) {
    const int pollMs = request->Watch != nullptr ? 100 : 1000;
    for (;;) {
        if (request->Watch != nullptr && request->Watch->IsAborted()) {
            request->Aborted = request->Done = true;
            return;
        }
        Pump(request);
        if (request->Done || ready(request))
            return;
        curl_multi_poll(request->Multi, nullptr, 0, pollMs, nullptr);
    }
}

HRESULT RequestError(const CurlRequest* request) {
    if (request->Aborted)
        return E_ABORT;
    if (request->OutOfMemory)
        return E_OUTOFMEMORY;
    if (request->Failed)
        return HRESULT_FROM_WIN32(ERROR_INTERNET_INTERNAL_ERROR);
    if (request->Result != CURLE_OK)
        return HRESULT_FROM_WIN32(Win32FromCurl(request->Result, request->Easy));
    return S_OK;
}

// Holds a string libcurl allocated.
struct CurlText {
    char* Text = nullptr;
    ~CurlText() { curl_free(Text); }
};

struct CurlUrl {
    CURLU* Handle = curl_url();
    ~CurlUrl() { curl_url_cleanup(Handle); }
};

bool CopyPart(CURLU* url, CURLUPart part, size_t limit, std::string* out) {
    CurlText text;
    if (curl_url_get(url, part, &text.Text, 0) != CURLUE_OK) {
        out->clear();
        return true; // the part is absent
    }
    if (std::strlen(text.Text) > limit)
        return false;
    *out = text.Text;
    return true;
}

} // namespace

// The client's handles: the multi handle is the root, the connection where requests go,
// the request the transfer under way.
struct CHttpClient::Impl {
    std::string UserAgent;
    CURLM* Multi = nullptr;
    std::unique_ptr<CurlConnection> Connection;
    std::unique_ptr<CurlRequest> Request;

    ~Impl() { CloseAll(); }
    void CloseAll() {
        Request.reset();
        Connection.reset();
        if (Multi)
            curl_multi_cleanup(Multi);
        Multi = nullptr;
    }
    HRESULT Connect(const char* host, WORD port, const char* userName, const char* password,
                    DWORD scheme);
    HRESULT SendRequest(const char* path, const char* const* acceptTypes,
                        const CHttpTransferWatch* watch);
};

bool CrackHttpUrl(const char* url, HttpUrlParts* parts) {
    InitializeCurl();
    CurlUrl handle;
    if (!handle.Handle)
        return false;
    if (curl_url_set(handle.Handle, CURLUPART_URL, url,
                     CURLU_NON_SUPPORT_SCHEME | CURLU_URLENCODE) != CURLUE_OK)
        return false;
    std::string path, query, port;
    bool ok = CopyPart(handle.Handle, CURLUPART_SCHEME, 32, &parts->SchemeName) &&
              CopyPart(handle.Handle, CURLUPART_HOST, 256, &parts->HostName) &&
              CopyPart(handle.Handle, CURLUPART_USER, 128, &parts->UserName) &&
              CopyPart(handle.Handle, CURLUPART_PASSWORD, 128, &parts->Password) &&
              CopyPart(handle.Handle, CURLUPART_PATH, 2048, &path) &&
              CopyPart(handle.Handle, CURLUPART_QUERY, 2048, &query);
    if (!ok || parts->HostName.empty())
        return false;
    CopyPart(handle.Handle, CURLUPART_PORT, 5, &port);

    parts->ObjectPath = query.empty() ? path : path + "?" + query;
    if (parts->ObjectPath.size() > 2048)
        return false;
    // IPv6 literals are kept without brackets, as the Windows URL cracker reports them.
    std::string& host = parts->HostName;
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);

    const std::string& scheme = parts->SchemeName;
    if (strcasecmp(scheme.c_str(), "http") == 0)
        parts->Scheme = kHttpSchemeHttp;
    else if (strcasecmp(scheme.c_str(), "https") == 0)
        parts->Scheme = kHttpSchemeHttps;
    else
        parts->Scheme = 0;
    parts->Port = port.empty() ? 0 : WORD(std::atoi(port.c_str()));
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
    const HRESULT hr =
        CatchOutOfMemory([&] { return m_pImpl->Connect(host, port, userName, password, scheme); });
    if (FAILED(hr))
        m_pImpl->CloseAll();
    return hr;
}

HRESULT CHttpClient::Impl::Connect(const char* host, WORD port, const char* userName,
                                   const char* password, DWORD scheme) {
    CloseAll();
    InitializeCurl();
    Multi = curl_multi_init();
    if (!Multi)
        return HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY);
    if (!host || !*host)
        return HRESULT_FROM_WIN32(ERROR_INTERNET_INVALID_URL);
    auto connection = std::make_unique<CurlConnection>();
    connection->Host = host;
    connection->Port = port ? port : (scheme == kHttpSchemeHttps ? 443 : 80);
    connection->HasUser = userName != nullptr;
    connection->UserName = userName ? userName : "";
    connection->HasPassword = password != nullptr;
    connection->Password = password ? password : "";
    connection->Scheme = scheme;
    Connection = std::move(connection);
    return S_OK;
}

HRESULT CHttpClient::SendRequest(const char* path, const char* const* acceptTypes) {
    if (!m_pImpl)
        return E_OUTOFMEMORY;
    const HRESULT hr =
        CatchOutOfMemory([&] { return m_pImpl->SendRequest(path, acceptTypes, m_pWatch); });
    if (FAILED(hr))
        m_pImpl->Request.reset();
    return hr;
}

HRESULT CHttpClient::Impl::SendRequest(const char* path, const char* const* acceptTypes,
                                       const CHttpTransferWatch* watch) {
    Request.reset();
    if (!Multi || !Connection)
        return HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE);

    const bool secure = Connection->Scheme == kHttpSchemeHttps;
    std::string host = Connection->Host;
    if (host.find(':') != std::string::npos)
        host = "[" + host + "]";
    std::string url = (secure ? "https://" : "http://") + host + ":" +
                      std::to_string(Connection->Port) + (path && *path ? path : "/");

    std::string accept;
    for (const char* const* type = acceptTypes; type && *type; ++type)
        accept += (accept.empty() ? "" : ", ") + std::string(*type);
    accept = accept.empty() ? "Accept:" : "Accept: " + accept;

    auto request = std::make_unique<CurlRequest>();
    request->Multi = Multi;
    request->Watch = watch;
    request->Easy = curl_easy_init();
    if (!request->Easy)
        return HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY);
    request->Headers = curl_slist_append(nullptr, accept.c_str());
    request->Headers = curl_slist_append(request->Headers, "Pragma: no-cache");

    CURL* easy = request->Easy;
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_0));
    curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(easy, CURLOPT_USERAGENT, UserAgent.c_str());
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, request->Headers);
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, kConnectTimeout);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, long(kHttpLowSpeedBytesPerSecond));
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, long(GetHttpLowSpeedWindow()));
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, kReceiveBufferSize);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, request.get());
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, request.get());
    // As with the curl tool, CURL_CA_BUNDLE names the certificates to trust instead of
    // the system's; verification stays on.
    const char* bundle = std::getenv("CURL_CA_BUNDLE");
    if (secure && bundle && *bundle)
        curl_easy_setopt(easy, CURLOPT_CAINFO, bundle);
    if (Connection->HasUser)
        curl_easy_setopt(easy, CURLOPT_USERNAME, Connection->UserName.c_str());
    if (Connection->HasPassword)
        curl_easy_setopt(easy, CURLOPT_PASSWORD, Connection->Password.c_str());

    if (curl_multi_add_handle(Multi, easy) != CURLM_OK) {
        curl_easy_cleanup(easy);
        request->Easy = nullptr;
        return HRESULT_FROM_WIN32(ERROR_INTERNET_INTERNAL_ERROR);
    }
    PumpUntil(request.get(), [](const CurlRequest* r) { return r->HeadersDone; });
    long status = 0;
    if (request->HeadersDone)
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    // A body without a final three-digit status (none, or 1xx) is no reply to a GET.
    if (!request->HeadersDone || status < 200 || status > 999) {
        const HRESULT hr = RequestError(request.get());
        return FAILED(hr) ? hr : HRESULT_FROM_WIN32(ERROR_HTTP_INVALID_SERVER_RESPONSE);
    }
    Request = std::move(request);
    return S_OK;
}

HRESULT CHttpClient::Read(void* buffer, DWORD size, DWORD* bytesRead) {
    *bytesRead = 0;
    CurlRequest* request = m_pImpl ? m_pImpl->Request.get() : nullptr;
    if (!request)
        return HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE);
    if (size == 0)
        return S_OK;
    if (const size_t spilled = request->Spilled()) {
        const size_t count = spilled < size ? spilled : size;
        std::memcpy(buffer, request->Spill.data() + request->SpillOffset, count);
        request->SpillOffset += count;
        if (request->Spilled() == 0) {
            request->Spill.clear();
            request->SpillOffset = 0;
        }
        *bytesRead = DWORD(count);
        return S_OK;
    }
    request->Target = static_cast<char*>(buffer);
    request->TargetSize = size;
    request->TargetFilled = 0;
    if (request->Paused && !request->Done) {
        request->Paused = false;
        // Hands the held block over at once, into the target.
        if (curl_easy_pause(request->Easy, CURLPAUSE_CONT) != CURLE_OK)
            request->Failed = request->Done = true;
    }
    if (request->TargetFilled == 0)
        PumpUntil(request, [](const CurlRequest* r) { return r->TargetFilled != 0; });
    const size_t filled = request->TargetFilled;
    request->Target = nullptr;
    request->TargetSize = request->TargetFilled = 0;
    if (filled != 0) {
        *bytesRead = DWORD(filled);
        return S_OK;
    }
    HRESULT hr = RequestError(request);
    return FAILED(hr) ? hr : S_FALSE;
}

HRESULT CHttpClient::GetStatusCode(DWORD* status) {
    *status = 0;
    const CurlRequest* request = m_pImpl ? m_pImpl->Request.get() : nullptr;
    if (!request || !request->HeadersDone)
        return HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE);
    long code = 0;
    curl_easy_getinfo(request->Easy, CURLINFO_RESPONSE_CODE, &code);
    *status = DWORD(code);
    return S_OK;
}

HRESULT CHttpClient::GetContentLength(uint64_t* length) {
    *length = 0;
    const CurlRequest* request = m_pImpl ? m_pImpl->Request.get() : nullptr;
    if (!request || !request->HeadersDone)
        return HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE);
    curl_off_t declared = -1;
    if (curl_easy_getinfo(request->Easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &declared) !=
            CURLE_OK ||
        declared < 0)
        return S_FALSE;
    *length = uint64_t(declared);
    return S_OK;
}

HRESULT CHttpClient::GetRetryAfter(DWORD* seconds) {
    *seconds = 0;
    const CurlRequest* request = m_pImpl ? m_pImpl->Request.get() : nullptr;
    if (!request || !request->HeadersDone)
        return HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE);
    curl_off_t after = 0;
    if (curl_easy_getinfo(request->Easy, CURLINFO_RETRY_AFTER, &after) != CURLE_OK || after <= 0)
        return S_FALSE;
    *seconds = after > 0xFFFF ? 0xFFFF : DWORD(after);
    return S_OK;
}
