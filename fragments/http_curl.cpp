// libcurl backend of CHttpClient. The multi interface drives the one transfer of a
// request, so the body is pulled through Read in the caller's buffer size and only what a
// single socket read delivered is ever held in memory.
#include "fragments/http_client.h"

#include <curl/curl.h>
#include <strings.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

// InternetHandle: the root of one client.
struct CurlSession {
    CURLM* Multi = nullptr;
    std::string UserAgent;
};

// Connection: where requests go.
struct CurlConnection {
    std::string Host;
    WORD Port = 0;
    bool HasUser = false;
    bool HasPassword = false;
    std::string UserName;
    std::string Password;
    DWORD Scheme = 0;
};

// Request: one transfer and the body bytes received but not yet read.
struct CurlRequest {
    CURLM* Multi = nullptr;
    CURL* Easy = nullptr;
    curl_slist* Headers = nullptr;
    std::vector<char> Pending;
    size_t PendingOffset = 0;
    bool HeadersDone = false;
    bool Done = false;
    CURLcode Result = CURLE_OK;
    bool Failed = false; // the multi interface itself failed

    ~CurlRequest() {
        if (Easy) {
            curl_multi_remove_handle(Multi, Easy);
            curl_easy_cleanup(Easy);
        }
        curl_slist_free_all(Headers);
    }
    size_t Available() const { return Pending.size() - PendingOffset; }
};

// Seconds before the platform gives up, as the Windows HTTP stack does by default: to
// connect, and with no body byte arriving.
constexpr long kConnectTimeout = 60;
constexpr long kStallTimeout = 30;

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
    size_t bytes = size * count;
    if (request->PendingOffset == request->Pending.size()) {
        request->Pending.clear();
        request->PendingOffset = 0;
    }
    request->Pending.insert(request->Pending.end(), data, data + bytes);
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

// Pumps until ready(request) holds or the transfer ends, sleeping on the socket between
// rounds.
template <class Ready> void PumpUntil(CurlRequest* request, Ready ready) {
    for (;;) {
        Pump(request);
        if (request->Done || ready(request))
            return;
        curl_multi_poll(request->Multi, nullptr, 0, 1000, nullptr);
    }
}

HRESULT RequestError(const CurlRequest* request) {
    if (request->Failed)
        return HRESULT_FROM_WIN32(ERROR_INTERNET_INTERNAL_ERROR);
    if (request->Result != CURLE_OK)
        return HRESULT_FROM_WIN32(Win32FromCurl(request->Result, request->Easy));
    return S_OK;
}

bool CopyPart(CURLU* url, CURLUPart part, size_t limit, std::string* out) {
    char* text = nullptr;
    CURLUcode rc = curl_url_get(url, part, &text, 0);
    if (rc != CURLUE_OK) {
        out->clear();
        return true; // the part is absent
    }
    bool fits = std::strlen(text) <= limit;
    if (fits)
        *out = text;
    curl_free(text);
    return fits;
}

} // namespace

bool ParseHttpUrl(const char* url, HttpUrlParts* parts) {
    *parts = HttpUrlParts();
    if (!url)
        return false;
    InitializeCurl();
    CURLU* handle = curl_url();
    if (!handle)
        return false;
    bool ok = curl_url_set(handle, CURLUPART_URL, url,
                           CURLU_NON_SUPPORT_SCHEME | CURLU_URLENCODE) == CURLUE_OK;
    std::string path, query;
    ok = ok && CopyPart(handle, CURLUPART_SCHEME, 32, &parts->SchemeName) &&
         CopyPart(handle, CURLUPART_HOST, 256, &parts->HostName) &&
         CopyPart(handle, CURLUPART_USER, 128, &parts->UserName) &&
         CopyPart(handle, CURLUPART_PASSWORD, 128, &parts->Password) &&
         CopyPart(handle, CURLUPART_PATH, 2048, &path) &&
         CopyPart(handle, CURLUPART_QUERY, 2048, &query);
    std::string port;
    if (ok)
        CopyPart(handle, CURLUPART_PORT, 5, &port);
    curl_url_cleanup(handle);
    if (!ok || parts->HostName.empty())
        return false;

    parts->ObjectPath = query.empty() ? path : path + "?" + query;
    if (parts->ObjectPath.size() > 2048)
        return false;
    // IPv6 literals are kept without brackets, as the Windows URL cracker reports them.
    std::string& host = parts->HostName;
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);

    const std::string& scheme = parts->SchemeName;
    if (strcasecmp(scheme.c_str(), "http") == 0 || strcasecmp(scheme.c_str(), "kvssf") == 0)
        parts->Scheme = CHttpClient::kSchemeHttp;
    else if (strcasecmp(scheme.c_str(), "https") == 0 || strcasecmp(scheme.c_str(), "kvssfs") == 0)
        parts->Scheme = CHttpClient::kSchemeHttps;
    else
        parts->Scheme = 0; // INTERNET_SCHEME_UNKNOWN
    if (!port.empty())
        parts->Port = WORD(std::atoi(port.c_str()));
    else if (parts->Scheme == CHttpClient::kSchemeHttps)
        parts->Port = 443;
    else if (parts->Scheme == CHttpClient::kSchemeHttp)
        parts->Port = 80;
    return true;
}

void CHttpClient::CloseRequest() {
    delete static_cast<CurlRequest*>(Request);
    Request = nullptr;
}

void CHttpClient::CloseAll() {
    CloseRequest();
    delete static_cast<CurlConnection*>(Connection);
    Connection = nullptr;
    if (auto* session = static_cast<CurlSession*>(InternetHandle)) {
        curl_multi_cleanup(session->Multi);
        delete session;
    }
    InternetHandle = nullptr;
}

HRESULT CHttpClient::Connect(const char* host, WORD port, const char* userName,
                             const char* password, DWORD scheme) {
    CloseAll();
    Scheme = scheme;
    InitializeCurl();
    auto* session = new CurlSession;
    session->Multi = curl_multi_init();
    session->UserAgent = UserAgent;
    InternetHandle = session;
    if (!session->Multi) {
        CloseAll();
        return HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY);
    }
    if (!host || !*host) {
        CloseAll();
        return HRESULT_FROM_WIN32(ERROR_INTERNET_INVALID_URL);
    }
    auto* connection = new CurlConnection;
    connection->Host = host;
    connection->Port = port ? port : (scheme == kSchemeHttps ? 443 : 80);
    connection->HasUser = userName != nullptr;
    connection->UserName = userName ? userName : "";
    connection->HasPassword = password != nullptr;
    connection->Password = password ? password : "";
    connection->Scheme = scheme;
    Connection = connection;
    return S_OK;
}

HRESULT CHttpClient::SendRequest(const char* path, const char* const* acceptTypes) {
    CloseRequest();
    auto* session = static_cast<CurlSession*>(InternetHandle);
    auto* connection = static_cast<CurlConnection*>(Connection);
    if (!session || !connection)
        return HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE);

    bool secure = (RequestFlags() & kFlagSecure) != 0;
    std::string host = connection->Host;
    if (host.find(':') != std::string::npos)
        host = "[" + host + "]";
    std::string url = (secure ? "https://" : "http://") + host + ":" +
                      std::to_string(connection->Port) + (path && *path ? path : "/");

    auto* request = new CurlRequest;
    request->Multi = session->Multi;
    request->Easy = curl_easy_init();
    Request = request;
    if (!request->Easy) {
        CloseRequest();
        return HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY);
    }

    std::string accept;
    for (const char* const* type = acceptTypes; type && *type; ++type)
        accept += (accept.empty() ? "" : ", ") + std::string(*type);
    request->Headers =
        curl_slist_append(nullptr, accept.empty() ? "Accept:" : ("Accept: " + accept).c_str());
    request->Headers = curl_slist_append(request->Headers, "Pragma: no-cache");

    CURL* easy = request->Easy;
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_0));
    curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(easy, CURLOPT_USERAGENT, session->UserAgent.c_str());
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, request->Headers);
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, kConnectTimeout);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, kStallTimeout);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, request);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, request);
    // As with the curl tool, CURL_CA_BUNDLE names the certificates to trust instead of
    // the system's; verification stays on.
    const char* bundle = std::getenv("CURL_CA_BUNDLE");
    if (secure && bundle && *bundle)
        curl_easy_setopt(easy, CURLOPT_CAINFO, bundle);
    if (connection->HasUser)
        curl_easy_setopt(easy, CURLOPT_USERNAME, connection->UserName.c_str());
    if (connection->HasPassword)
        curl_easy_setopt(easy, CURLOPT_PASSWORD, connection->Password.c_str());

    if (curl_multi_add_handle(request->Multi, easy) != CURLM_OK) {
        curl_easy_cleanup(easy);
        request->Easy = nullptr;
        CloseRequest();
        return HRESULT_FROM_WIN32(ERROR_INTERNET_INTERNAL_ERROR);
    }
    PumpUntil(request, [](const CurlRequest* r) { return r->HeadersDone; });
    if (!request->HeadersDone) {
        HRESULT hr = RequestError(request);
        CloseRequest();
        return FAILED(hr) ? hr : HRESULT_FROM_WIN32(ERROR_HTTP_INVALID_SERVER_RESPONSE);
    }
    return S_OK;
}

HRESULT CHttpClient::Read(void* buffer, DWORD size, DWORD* bytesRead) {
    *bytesRead = 0;
    auto* request = static_cast<CurlRequest*>(Request);
    if (!request)
        return HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE);
    if (size == 0)
        return S_OK;
    if (request->Available() == 0)
        PumpUntil(request, [](const CurlRequest* r) { return r->Available() != 0; });
    if (size_t available = request->Available()) {
        size_t count = available < size ? available : size;
        std::memcpy(buffer, request->Pending.data() + request->PendingOffset, count);
        request->PendingOffset += count;
        *bytesRead = DWORD(count);
        return S_OK;
    }
    HRESULT hr = RequestError(request);
    return FAILED(hr) ? hr : S_FALSE;
}

HRESULT CHttpClient::GetStatusCode(DWORD* status) {
    *status = 0;
    auto* request = static_cast<CurlRequest*>(Request);
    if (!request || !request->HeadersDone)
        return HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE);
    long code = 0;
    curl_easy_getinfo(request->Easy, CURLINFO_RESPONSE_CODE, &code);
    *status = DWORD(code);
    return S_OK;
}
