#include "fragments/http_url.h"

#include "framework/catch_out_of_memory.h"

namespace {

bool EqualsIgnoringCase(const std::string& text, const char* lower) {
    size_t i = 0;
    for (; i < text.size() && lower[i]; ++i) {
        const char c = text[i] >= 'A' && text[i] <= 'Z' ? char(text[i] - 'A' + 'a') : text[i];
        if (c != lower[i])
            return false;
    }
    return i == text.size() && !lower[i];
}

// The one place the filter's schemes are known to the transport.
void MapFilterScheme(HttpUrlParts* parts) {
    if (EqualsIgnoringCase(parts->SchemeName, "kvssf"))
        parts->Scheme = kHttpSchemeHttp;
    else if (EqualsIgnoringCase(parts->SchemeName, "kvssfs"))
        parts->Scheme = kHttpSchemeHttps;
    if (parts->Port == 0 && parts->Scheme == kHttpSchemeHttp)
        parts->Port = 80;
    else if (parts->Port == 0 && parts->Scheme == kHttpSchemeHttps)
        parts->Port = 443;
}

} // namespace

HRESULT ParseHttpUrl(const char* url, HttpUrlParts* parts) {
    return CatchOutOfMemory([&] {
        *parts = HttpUrlParts();
        if (!url || !CrackHttpUrl(url, parts))
            return HRESULT_FROM_WIN32(ERROR_INTERNET_INVALID_URL);
        MapFilterScheme(parts);
        return S_OK;
    });
}
