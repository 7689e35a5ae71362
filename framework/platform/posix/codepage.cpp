#include "framework/platform/platform.h"

#include <new>

// wchar_t holds UTF-32 on POSIX; the narrow form is UTF-8. Invalid sequences and code
// points become U+FFFD.

namespace {

void AppendUtf8(std::string* out, char32_t cp) {
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        cp = 0xFFFD;
    if (cp < 0x80) {
        out->push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

} // namespace

HRESULT WideToAnsi(const wchar_t* text, size_t length, std::string* out) {
    try {
        out->clear();
        out->reserve(length);
        for (size_t i = 0; i < length; ++i)
            AppendUtf8(out, static_cast<char32_t>(text[i]));
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT AnsiToWide(const char* text, size_t length, std::wstring* out) {
    try {
        out->clear();
        out->reserve(length);
        const auto* p = reinterpret_cast<const unsigned char*>(text);
        size_t i = 0;
        while (i < length) {
            unsigned char c = p[i];
            int extra = c < 0x80           ? 0
                        : (c >> 5) == 0x6  ? 1
                        : (c >> 4) == 0xE  ? 2
                        : (c >> 3) == 0x1E ? 3
                                           : -1;
            if (extra < 0) {
                out->push_back(0xFFFD);
                ++i;
                continue;
            }
            char32_t cp = extra == 0 ? c : (c & (0x3F >> extra));
            bool ok = true;
            for (int k = 1; k <= extra; ++k) {
                if (i + k >= length || (p[i + k] & 0xC0) != 0x80) {
                    ok = false;
                    break;
                }
                cp = (cp << 6) | (p[i + k] & 0x3F);
            }
            if (!ok) {
                out->push_back(0xFFFD);
                ++i;
                continue;
            }
            static const char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
            if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
                cp = 0xFFFD;
            out->push_back(static_cast<wchar_t>(cp));
            i += extra + 1;
        }
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}
