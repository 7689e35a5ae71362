#include "framework/platform/platform.h"

#include <chrono>
#include <cstdlib>
#include <unistd.h>

void* CoTaskMemAlloc(size_t cb) {
    return std::malloc(cb ? cb : 1);
}

void CoTaskMemFree(void* pv) {
    std::free(pv);
}

HRESULT CoInitializeEx(void*, DWORD) {
    return S_OK;
}

void CoUninitialize() {}

BOOL DeleteFileA(const char* path) {
    return path && unlink(path) == 0;
}

DWORD GetTickCount() {
    const auto elapsed = std::chrono::steady_clock::now().time_since_epoch();
    return DWORD(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}
