#include "tools/common/hresult_text.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "framework/platform/temp_file.h"

namespace {

bool StartsWithIgnoringCase(const std::string& text, const char* prefix) {
    for (size_t i = 0; prefix[i] != '\0'; ++i) {
        if (i >= text.size())
            return false;
        const char c = text[i] >= 'A' && text[i] <= 'Z' ? char(text[i] - 'A' + 'a') : text[i];
        if (c != prefix[i])
            return false;
    }
    return true;
}

// A scheme the filter fetches, so a failure to speak it is the server's.
bool HasFetchedScheme(const std::string& url) {
    for (const char* scheme : {"http://", "https://", "kvssf://", "kvssfs://"})
        if (StartsWithIgnoringCase(url, scheme))
            return true;
    return false;
}

// Codes whose meaning depends on where they were met, or on the temporary directory;
// empty when the general text applies.
std::string ExplainInPlace(HRESULT hr, FailurePlace place, const std::string& url) {
    const std::string tempDir = GetTempDirectory();
    switch (static_cast<uint32_t>(hr)) {
    case 0x80070002: // ERROR_FILE_NOT_FOUND
    case 0x80070003: // ERROR_PATH_NOT_FOUND
    case 0x8007010B: // ERROR_DIRECTORY
    {
        // The temporary files fail this way before any request is made.
        std::error_code error;
        if (!std::filesystem::is_directory(tempDir, error))
            return "the temporary directory " + tempDir +
                   " does not exist or is not a directory (set TMPDIR to one that does)";
        return std::string();
    }
    case 0x80070070: // ERROR_DISK_FULL
    case 0x80070027: // ERROR_HANDLE_DISK_FULL
        return "the disk is full (temporary files go to " + tempDir + ")";
    case 0x80004005:
        if (place == FailurePlace::Stream)
            return "a fragment is corrupt: its boxes cannot be parsed";
        return std::string();
    case 0x80070026: // ERROR_HANDLE_EOF
        if (place == FailurePlace::Stream)
            return "a fragment is corrupt: its samples run past the end of its data";
        return std::string();
    case 0x8004020D: // VFW_E_BUFFER_OVERFLOW
        if (place == FailurePlace::Stream)
            return "a fragment is corrupt: a sample is larger than the pin's buffers";
        return std::string();
    case 0x80072EE6:
        if (place == FailurePlace::Stream || (place == FailurePlace::Load && HasFetchedScheme(url)))
            return "the server's reply is not HTTP";
        return std::string();
    default:
        return std::string();
    }
}

const char* Explain(HRESULT hr) {
    switch (static_cast<uint32_t>(hr)) {
    case 0x80004005:
        return "failure (unsupported URL or presentation)";
    case 0x8007000E:
        return "out of memory";
    case 0x80070002:
        return "the server answered with a status other than 200 (not found, redirected or server "
               "error)";
    case 0x80070005:
        return "access denied (the server answered 401)";
    case 0x80070026:
        return "unexpected end of file";
    case 0x80070057:
        return "invalid argument";
    case 0x8004022F:
        return "the manifest is not a well-formed XML document";
    case 0x80072EE5:
        return "the URL cannot be parsed";
    case 0x80072EE7:
        return "the server name cannot be resolved";
    case 0x80072EFD:
        return "the connection to the server failed";
    case 0x80072EE2:
        return "the request timed out";
    case 0x80072F7D:
        return "a TLS error occurred";
    case 0x80072F06:
        return "the server's TLS certificate is for another host name";
    case 0x80072F05:
        return "the server's TLS certificate has expired or is not yet valid";
    case 0x80072F78:
        return "the server's response is not valid HTTP";
    case 0x80072EE6:
        return "the URL scheme is not supported";
    case 0x80072EE4:
        return "internal error of the HTTP library";
    case 0x80040265:
        return "not a Smooth Streaming manifest (no SmoothStreamingMedia element with audio or "
               "video streams)";
    case 0x80070003:
        return "the path is not found";
    case 0x8007010B:
        return "the directory name is invalid";
    case 0x80072F0D:
        return "the server's TLS certificate is not trusted";
    case 0x80072EFE:
        return "the connection was closed before the response was complete";
    case 0x80072EFF:
        return "the connection was reset";
    default:
        return nullptr;
    }
}

// The reason phrases of the statuses a media origin answers with.
const struct {
    DWORD Status;
    const char* Phrase;
} kReasonPhrases[] = {{301, "Moved Permanently"},
                      {302, "Found"},
                      {303, "See Other"},
                      {307, "Temporary Redirect"},
                      {308, "Permanent Redirect"},
                      {400, "Bad Request"},
                      {401, "Unauthorized"},
                      {403, "Forbidden"},
                      {404, "Not Found"},
                      {410, "Gone"},
                      {416, "Range Not Satisfiable"},
                      {429, "Too Many Requests"},
                      {500, "Internal Server Error"},
                      {502, "Bad Gateway"},
                      {503, "Service Unavailable"},
                      {504, "Gateway Timeout"}};

} // namespace

std::string HresultCode(HRESULT hr) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
    return code;
}

std::string DescribeHresult(HRESULT hr, FailurePlace place, const std::string& url) {
    const std::string code = HresultCode(hr);
    const std::string inPlace = ExplainInPlace(hr, place, url);
    if (!inPlace.empty())
        return code + ": " + inPlace;
    const char* text = Explain(hr);
    if (text)
        return code + ": " + text;
    if ((static_cast<uint32_t>(hr) & 0xFFFF0000u) == 0x80070000u)
        return code + ": system error " + std::to_string(hr & 0xFFFF);
    return code + ": failure";
}

std::string DescribeDownloadFailure(HRESULT hr, DWORD status, FailurePlace place,
                                    const std::string& url) {
    const std::string described = DescribeHresult(hr, place, url);
    // After a 200 the failure is the body's or the host's own: the status adds nothing.
    if (status == 0 || status == 200)
        return described;
    std::string text = "HTTP " + std::to_string(status);
    for (const auto& reason : kReasonPhrases)
        if (reason.Status == status)
            text += std::string(" ") + reason.Phrase;
    if (status >= 300 && status <= 399)
        text += ", a redirect that is not followed";
    return text + " (" + described + ")";
}
