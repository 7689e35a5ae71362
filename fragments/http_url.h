// URLs for CHttpClient: cracked by the platform's URL parser (the HTTP backend's
// CrackHttpUrl), then the filter's own schemes mapped onto the ones fetched.
#pragma once

#include <string>

#include "framework/platform/platform.h"

// The platform's scheme codes (INTERNET_SCHEME_HTTP, INTERNET_SCHEME_HTTPS).
constexpr DWORD kHttpSchemeHttp = 3;
constexpr DWORD kHttpSchemeHttps = 4;

struct HttpUrlParts {
    std::string SchemeName; // as written
    std::string HostName;   // an IPv6 literal without its brackets
    std::string UserName;
    std::string Password;
    std::string ObjectPath; // path and query
    WORD Port = 0;          // 0 when the URL has none
    DWORD Scheme = DWORD(-1);
};

// S_OK with url's parts: the filter's schemes are fetched as kvssf -> http and kvssfs ->
// https (either in any case), and a URL without a port takes the default of the scheme
// fetched (80, 443). 0x80072EE5 when url is null, cannot be parsed or a part exceeds
// its limit (scheme 32, host 256, user and password 128, path and query 2,048
// characters); E_OUTOFMEMORY.
HRESULT ParseHttpUrl(const char* url, HttpUrlParts* parts);

// Backend: canonicalizes and cracks url into parts, Scheme being the platform's code for
// the scheme (http and https, any other one unknown); false when it cannot be parsed or a
// part exceeds its limit. May throw std::bad_alloc.
bool CrackHttpUrl(const char* url, HttpUrlParts* parts);
