// libFuzzer entry: one input is one server's answer to the HTTP client's GET. Its first
// byte picks the size of the client's reads; the rest is served, byte for byte, on a local
// listening socket, after which the server closes its side. Every input therefore ends at
// once whatever it declares (a longer Content-Length, an unfinished chunk, no blank line).
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <thread>

#include "fragments/http_client.h"

namespace {

// Server waits, in ms: a client that neither connects nor closes is a hang.
constexpr int kServerWaitMs = 5000;
constexpr DWORD kReadSizes[] = {1, 3, 100, 4096, 16384};

int g_listener = -1;
std::string g_url;

void Listen() {
    g_listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (g_listener < 0 || bind(g_listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(g_listener, 4) != 0 ||
        getsockname(g_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        __builtin_trap();
    g_url = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/fragment";
    // A short window ends a stalled transfer early; served inputs never stall.
    SetHttpLowSpeedWindow(2);
}

bool WaitReadable(int fd) {
    pollfd entry = {fd, POLLIN, 0};
    return poll(&entry, 1, kServerWaitMs) == 1;
}

// One connection: the request up to its blank line, then the response, then the end of
// what the server sends; waits for the client to close before closing, and closes with a
// reset so that no connection lingers in TIME_WAIT across millions of inputs.
void Serve(const uint8_t* response, size_t size) {
    if (!WaitReadable(g_listener))
        __builtin_trap(); // the client never connected
    const int connection = accept4(g_listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0)
        __builtin_trap();
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos && WaitReadable(connection)) {
        const ssize_t count = recv(connection, buffer, sizeof buffer, 0);
        if (count <= 0)
            break;
        request.append(buffer, size_t(count));
    }
    for (size_t sent = 0; sent < size;) {
        const ssize_t count = send(connection, response + sent, size - sent, MSG_NOSIGNAL);
        if (count <= 0)
            break; // the client gave up on the response
        sent += size_t(count);
    }
    shutdown(connection, SHUT_WR);
    bool closed = false;
    while (!closed) {
        if (!WaitReadable(connection))
            __builtin_trap(); // the client kept the connection open after the server's end
        closed = recv(connection, buffer, sizeof buffer, 0) <= 0;
    }
    const linger reset = {1, 0};
    setsockopt(connection, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    close(connection);
}

// What the client makes of the response, with the contracts CHttpFile relies on checked.
void Fetch(DWORD readSize) {
    CHttpClient client("fuzz");
    std::string path;
    if (FAILED(client.Open(g_url.c_str(), &path)) ||
        FAILED(client.SendRequest(path.c_str(), nullptr)))
        return;
    DWORD status = 0;
    if (client.GetStatusCode(&status) != S_OK || status < 200 || status > 999)
        __builtin_trap();
    uint64_t declared = 0;
    const HRESULT hasLength = client.GetContentLength(&declared);
    DWORD retryAfter = 0;
    if (client.GetRetryAfter(&retryAfter) == S_OK && (retryAfter == 0 || retryAfter > 0xFFFF))
        __builtin_trap();
    char buffer[16384];
    uint64_t total = 0;
    DWORD count = 0;
    HRESULT hr;
    while ((hr = client.Read(buffer, readSize, &count)) == S_OK) {
        if (count == 0 || count > readSize)
            __builtin_trap();
        total += count;
    }
    // A 200 body that ends cleanly is whole: a short one must have failed.
    if (hr == S_FALSE && status == 200 && hasLength == S_OK && total != declared)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    if (g_listener < 0)
        Listen();
    const DWORD readSize = kReadSizes[data[0] % (sizeof kReadSizes / sizeof kReadSizes[0])];
    std::thread server(Serve, data + 1, size - 1);
    Fetch(readSize);
    server.join();
    return 0;
}
