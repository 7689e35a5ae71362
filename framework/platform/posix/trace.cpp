// The trace's operating-system services on POSIX. A process is one module here, so the
// shared block is a static; the trace file's sharing is an advisory exclusive lock.
#include "framework/platform/trace_platform.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <cwchar>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <sched.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

#include "framework/trace/trace.h"

WCHAR g_wszKTraceFile[KTRACE_PATH_CHARS] = L"";

namespace {

TraceSharedBlock g_block{};

std::string NarrowPath(const WCHAR* path) {
    return WideToAnsi(std::wstring(path));
}

bool WriteAll(int fd, const char* bytes, size_t count) {
    while (count > 0) {
        const ssize_t written = write(fd, bytes, count);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes += written;
        count -= size_t(written);
    }
    return true;
}

TraceFileResult ResultOfOpenError(int error) {
    switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
        return TraceFileResult::AccessDenied;
    default:
        return TraceFileResult::Failed;
    }
}

class CPosixTraceLock : public CTraceLock {
public:
    void Lock() override { m_mutex.lock(); }
    void Unlock() override { m_mutex.unlock(); }
    bool TryLock() override { return m_mutex.try_lock(); }

private:
    std::recursive_mutex m_mutex;
};

class CPosixTraceTimer : public CTraceTimer {
public:
    CPosixTraceTimer(DWORD periodMs, TraceTimerProc proc, void* context)
        : m_period(periodMs), m_proc(proc), m_context(context) {}
    ~CPosixTraceTimer() override { Stop(0); }

    bool Start() {
        try {
            m_thread = std::thread(&CPosixTraceTimer::Run, this);
        } catch (const std::system_error&) {
            return false;
        }
        return true;
    }

    void Stop(DWORD) override {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stopping = true;
        }
        m_changed.notify_all();
        if (m_thread.joinable())
            m_thread.join();
    }

private:
    void Run() {
        std::unique_lock<std::mutex> lock(m_mutex);
        while (!m_changed.wait_for(lock, m_period, [this] { return m_stopping; })) {
            lock.unlock();
            m_proc(m_context);
            lock.lock();
        }
    }

    const std::chrono::milliseconds m_period;
    const TraceTimerProc m_proc;
    void* const m_context;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_stopping = false; // guarded by m_mutex
    std::thread m_thread;
};

} // namespace

TraceSharedBlock* TraceOpenSharedBlock(const std::wstring&, void** handle) {
    *handle = nullptr;
    return &g_block;
}

void TraceCloseSharedBlock(TraceSharedBlock*, void*) {}

TraceTimeOfDay TraceLocalTimeOfDay() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    return {local.tm_hour, local.tm_min, local.tm_sec, int(now.tv_nsec / 1000000)};
}

DWORD TraceProcessId() {
    return DWORD(getpid());
}

DWORD TraceThreadId() {
    return DWORD(syscall(SYS_gettid));
}

int TraceHandleCount() {
    DIR* dir = opendir("/proc/self/fd");
    if (!dir)
        return -1;
    const int own = dirfd(dir);
    int count = 0;
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        if (std::atoi(entry->d_name) != own)
            ++count;
    }
    closedir(dir);
    return count;
}

void TraceDebuggerOutput(const char* line) {
    std::fputs(line, stderr);
}

void TraceYield() {
    sched_yield();
}

void TraceSleep(DWORD milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void TraceDefaultFilePath(WCHAR* path, size_t chars) {
    const std::wstring full = AnsiToWide(GetTempDirectory() + "KorvelTrace.txt");
    std::wcsncpy(path, full.c_str(), chars - 1);
    path[chars - 1] = L'\0';
}

WCHAR TracePathSeparator() {
    return L'/';
}

TraceFileResult TraceAppendToFile(const WCHAR* path, const std::string& header,
                                  const std::string& text) {
    const int fd = open(NarrowPath(path).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return ResultOfOpenError(errno);
    // Only one writer at a time; readers are not held off.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        close(fd);
        return error == EWOULDBLOCK ? TraceFileResult::SharingViolation : TraceFileResult::Failed;
    }
    struct stat st {};
    bool written = fstat(fd, &st) == 0;
    if (written && st.st_size == 0)
        written = WriteAll(fd, header.data(), header.size());
    if (written)
        written = lseek(fd, 0, SEEK_END) >= 0 && WriteAll(fd, text.data(), text.size());
    close(fd);
    return written ? TraceFileResult::Written : TraceFileResult::Failed;
}

bool TraceCreateFolder(const WCHAR* path) {
    const std::string narrow = NarrowPath(path);
    if (mkdir(narrow.c_str(), 0755) == 0)
        return true;
    struct stat st {};
    return errno == EEXIST && stat(narrow.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::unique_ptr<CTraceLock> CreateTraceLock() {
    return std::make_unique<CPosixTraceLock>();
}

std::unique_ptr<CTraceTimer> StartTraceTimer(DWORD periodMs, TraceTimerProc proc, void* context) {
    auto timer = std::make_unique<CPosixTraceTimer>(periodMs, proc, context);
    if (!timer->Start())
        return nullptr;
    return timer;
}
