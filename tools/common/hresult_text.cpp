#include "tools/common/hresult_text.h"

#include <cstdio>

namespace {

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

} // namespace

std::string HresultCode(HRESULT hr) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
    return code;
}

std::string DescribeHresult(HRESULT hr) {
    const std::string code = HresultCode(hr);
    const char* text = Explain(hr);
    if (text)
        return code + ": " + text;
    if ((static_cast<uint32_t>(hr) & 0xFFFF0000u) == 0x80070000u)
        return code + ": system error " + std::to_string(hr & 0xFFFF);
    return code + ": failure";
}
