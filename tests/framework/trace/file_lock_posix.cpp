#include "tests/framework/trace/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

CScopedFileLock::CScopedFileLock(const std::filesystem::path& path) {
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    m_file = fd;
    m_held = flock(fd, LOCK_EX | LOCK_NB) == 0;
}

void CScopedFileLock::Unlock() {
    if (m_file >= 0)
        close(int(m_file));
    m_file = -1;
    m_held = false;
}
