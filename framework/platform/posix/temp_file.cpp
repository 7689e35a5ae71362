#include "framework/platform/platform.h"

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Win32 codes for the errno values a temporary file can meet.
uint32_t Win32FromErrno(int err) {
    switch (err) {
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EMFILE:
    case ENFILE:
        return ERROR_TOO_MANY_OPEN_FILES;
    case EACCES:
    case EPERM:
    case EROFS:
        return ERROR_ACCESS_DENIED;
    case EBADF:
        return ERROR_INVALID_HANDLE;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case EIO:
        return ERROR_WRITE_FAULT;
    case EEXIST:
        return ERROR_FILE_EXISTS;
    case EINVAL:
        return ERROR_NEGATIVE_SEEK;
    case ENOSPC:
    case EDQUOT:
        return ERROR_DISK_FULL;
    case EFBIG:
    case EOVERFLOW:
        return ERROR_FILE_TOO_LARGE;
    case EPIPE:
        return ERROR_BROKEN_PIPE;
    default:
        return 0;
    }
}

} // namespace

std::string GetTempDirectory() {
    const char* dir = std::getenv("TMPDIR");
    std::string path = dir && *dir ? dir : "/tmp";
    if (path.back() != '/')
        path.push_back('/');
    return path;
}

// The file is unlinked as soon as it exists and lives on through its descriptor alone.
HRESULT CreateTempFile(FILE** stream) {
    *stream = nullptr;
    std::string path = GetTempDirectory() + "TMVXXXXXX";
    ClearCrtError();
    int fd = mkstemp(path.data());
    if (fd < 0)
        return HresultFromCrtError();
    if (unlink(path.c_str()) != 0) {
        HRESULT hr = HresultFromCrtError();
        close(fd);
        return FAILED(hr) ? hr : E_FAIL;
    }
    FILE* file = fdopen(fd, "r+b");
    if (!file) {
        HRESULT hr = HresultFromCrtError();
        close(fd);
        return FAILED(hr) ? hr : E_FAIL;
    }
    *stream = file;
    return S_OK;
}

HRESULT CloseTempFile(FILE* stream) {
    ClearCrtError();
    return std::fclose(stream) == 0 ? S_OK : HresultFromCrtError();
}

void ClearCrtError() {
    errno = 0;
}

HRESULT HresultFromCrtError() {
    int err = errno;
    if (err == 0)
        return S_OK;
    uint32_t code = Win32FromErrno(err);
    return code ? HRESULT_FROM_WIN32(code) : E_FAIL;
}

long long GetStreamLength(FILE* stream) {
    struct stat st;
    if (std::fflush(stream) != 0 || fstat(fileno(stream), &st) != 0)
        return -1;
    return static_cast<long long>(st.st_size);
}

int SeekStream(FILE* stream, long long offset, int origin) {
    return fseeko(stream, static_cast<off_t>(offset), origin);
}
