#include "framework/platform/platform.h"

#include <cerrno>
#include <fcntl.h>
#include <io.h>
#include <stdlib.h>

std::string GetTempDirectory() {
    char dir[MAX_PATH];
    DWORD n = GetTempPathA(MAX_PATH, dir);
    return n && n < MAX_PATH ? std::string(dir, n) : std::string(".\\");
}

HRESULT CreateTempFile(FILE** stream) {
    *stream = nullptr;
    char dir[MAX_PATH];
    char name[MAX_PATH];
    if (!GetTempPathA(MAX_PATH, dir) || !GetTempFileNameA(dir, "TMV", 0, name))
        return HRESULT_FROM_WIN32(GetLastError());
    HANDLE handle =
        CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                    FILE_FLAG_DELETE_ON_CLOSE | FILE_ATTRIBUTE_TEMPORARY, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        HRESULT hr = HRESULT_FROM_WIN32(GetLastError());
        DeleteFileA(name); // GetTempFileNameA created it
        return hr;
    }
    ClearCrtError();
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDWR | _O_BINARY);
    if (fd < 0) {
        HRESULT hr = HresultFromCrtError();
        CloseHandle(handle);
        return FAILED(hr) ? hr : E_FAIL;
    }
    FILE* file = _fdopen(fd, "r+b");
    if (!file) {
        HRESULT hr = HresultFromCrtError();
        _close(fd);
        return FAILED(hr) ? hr : E_FAIL;
    }
    *stream = file;
    return S_OK;
}

HRESULT CloseTempFile(FILE* stream) {
    ClearCrtError();
    return fclose(stream) == 0 ? S_OK : HresultFromCrtError();
}

void ClearCrtError() {
    errno = 0;
    _doserrno = 0;
}

HRESULT HresultFromCrtError() {
    unsigned long os = _doserrno;
    if (os != 0)
        return HRESULT_FROM_WIN32(os);
    return errno != 0 ? E_FAIL : S_OK;
}

long long GetStreamLength(FILE* stream) {
    if (fflush(stream) != 0)
        return -1;
    return _filelengthi64(_fileno(stream));
}

int SeekStream(FILE* stream, long long offset, int origin) {
    return _fseeki64(stream, offset, origin);
}
