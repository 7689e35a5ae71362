#include "tests/framework/trace/file_lock.h"

#include "framework/platform/platform.h"

CScopedFileLock::CScopedFileLock(const std::filesystem::path& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    m_file = intptr_t(file);
    m_held = true;
}

void CScopedFileLock::Unlock() {
    if (m_file != -1)
        CloseHandle(HANDLE(m_file));
    m_file = -1;
    m_held = false;
}
