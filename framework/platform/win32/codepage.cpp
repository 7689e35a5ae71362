#include "framework/platform/platform.h"

#include <new>

HRESULT WideToAnsi(const wchar_t* text, size_t length, std::string* out) {
    try {
        out->clear();
        if (length == 0)
            return S_OK;
        int n = WideCharToMultiByte(CP_THREAD_ACP, 0, text, static_cast<int>(length), nullptr, 0,
                                    nullptr, nullptr);
        if (n <= 0)
            return HRESULT_FROM_WIN32(GetLastError());
        out->resize(n);
        WideCharToMultiByte(CP_THREAD_ACP, 0, text, static_cast<int>(length), out->data(), n,
                            nullptr, nullptr);
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT AnsiToWide(const char* text, size_t length, std::wstring* out) {
    try {
        out->clear();
        if (length == 0)
            return S_OK;
        int n = MultiByteToWideChar(CP_THREAD_ACP, 0, text, static_cast<int>(length), nullptr, 0);
        if (n <= 0)
            return HRESULT_FROM_WIN32(GetLastError());
        out->resize(n);
        MultiByteToWideChar(CP_THREAD_ACP, 0, text, static_cast<int>(length), out->data(), n);
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}
