// Conversions between UTF-16/UTF-32 wide text and narrow text in the thread's ANSI code
// page (CP_THREAD_ACP on Windows, UTF-8 on POSIX).
#pragma once

#include <string>

#include "framework/platform/platform.h"

// S_OK, or E_OUTOFMEMORY / HRESULT_FROM_WIN32 of the conversion's error.
HRESULT WideToAnsi(const wchar_t* text, size_t length, std::string* out);
HRESULT AnsiToWide(const char* text, size_t length, std::wstring* out);

inline std::string WideToAnsi(const std::wstring& text) {
    std::string out;
    WideToAnsi(text.data(), text.size(), &out);
    return out;
}
inline std::wstring AnsiToWide(const std::string& text) {
    std::wstring out;
    AnsiToWide(text.data(), text.size(), &out);
    return out;
}
