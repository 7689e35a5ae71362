// Holds a file the way another writer would, so that opening it to write fails with a
// sharing violation (POSIX: an exclusive advisory lock). Creates the file when absent.
#pragma once

#include <cstdint>
#include <filesystem>

class CScopedFileLock {
public:
    explicit CScopedFileLock(const std::filesystem::path& path);
    ~CScopedFileLock() { Unlock(); }

    bool Held() const { return m_held; }
    void Unlock();

private:
    CScopedFileLock(const CScopedFileLock&) = delete;
    CScopedFileLock& operator=(const CScopedFileLock&) = delete;

    bool m_held = false;
    // The open file: a descriptor or a HANDLE.
    intptr_t m_file = -1;
};
