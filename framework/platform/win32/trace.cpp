// The trace's operating-system services on Windows: the shared block is a named file
// mapping, so every module of the process finds the same writer.
#include "framework/platform/trace_platform.h"

#include <cwchar>

#include "framework/trace/trace.h"

WCHAR g_wszKTraceFile[KTRACE_PATH_CHARS] = L"c:\\KorvelTrace.txt";

namespace {

const wchar_t kDefaultTraceFile[] = L"c:\\KorvelTrace.txt";

bool WriteAll(HANDLE file, const char* bytes, size_t count) {
    while (count > 0) {
        const DWORD chunk = count > 0x40000000 ? 0x40000000 : DWORD(count);
        DWORD written = 0;
        if (!WriteFile(file, bytes, chunk, &written, nullptr) || written == 0)
            return false;
        bytes += written;
        count -= written;
    }
    return true;
}

class CWin32TraceLock : public CTraceLock {
public:
    CWin32TraceLock() { InitializeCriticalSection(&m_section); }
    ~CWin32TraceLock() override { DeleteCriticalSection(&m_section); }
    void Lock() override { EnterCriticalSection(&m_section); }
    void Unlock() override { LeaveCriticalSection(&m_section); }
    bool TryLock() override { return TryEnterCriticalSection(&m_section) != FALSE; }

private:
    CRITICAL_SECTION m_section;
};

class CWin32TraceTimer : public CTraceTimer {
public:
    CWin32TraceTimer(TraceTimerProc proc, void* context) : m_proc(proc), m_context(context) {}
    ~CWin32TraceTimer() override { Stop(0); }

    bool Start(DWORD periodMs) {
        m_queue = CreateTimerQueue();
        if (!m_queue)
            return false;
        if (!CreateTimerQueueTimer(&m_timer, m_queue, &CWin32TraceTimer::OnTimer, this, periodMs,
                                   periodMs, WT_EXECUTEDEFAULT | WT_EXECUTELONGFUNCTION)) {
            m_timer = nullptr;
            return false;
        }
        return true;
    }

    void Stop(DWORD waitMs) override {
        if (m_timer) {
            HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
            DeleteTimerQueueTimer(m_queue, m_timer, done ? done : INVALID_HANDLE_VALUE);
            m_timer = nullptr;
            // After a timeout the system still signals the event later, so it stays open.
            if (done && WaitForSingleObject(done, waitMs) == WAIT_OBJECT_0)
                CloseHandle(done);
        }
        if (m_queue) {
            DeleteTimerQueueEx(m_queue, nullptr);
            m_queue = nullptr;
        }
    }

private:
    static void CALLBACK OnTimer(void* parameter, BOOLEAN) {
        auto* timer = static_cast<CWin32TraceTimer*>(parameter);
        timer->m_proc(timer->m_context);
    }

    const TraceTimerProc m_proc;
    void* const m_context;
    HANDLE m_queue = nullptr;
    HANDLE m_timer = nullptr;
};

} // namespace

TraceSharedBlock* TraceOpenSharedBlock(const std::wstring& name, void** handle) {
    *handle = nullptr;
    HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                        sizeof(TraceSharedBlock), name.c_str());
    if (!mapping)
        return nullptr;
    void* view = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(TraceSharedBlock));
    if (!view) {
        CloseHandle(mapping);
        return nullptr;
    }
    *handle = mapping;
    return static_cast<TraceSharedBlock*>(view);
}

void TraceCloseSharedBlock(TraceSharedBlock* block, void* handle) {
    UnmapViewOfFile(block);
    CloseHandle(handle);
}

TraceTimeOfDay TraceLocalTimeOfDay() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return {now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
}

DWORD TraceProcessId() {
    return GetCurrentProcessId();
}

DWORD TraceThreadId() {
    return GetCurrentThreadId();
}

int TraceHandleCount() {
    DWORD count = 0;
    return GetProcessHandleCount(GetCurrentProcess(), &count) ? int(count) : -1;
}

void TraceDebuggerOutput(const char* line) {
    OutputDebugStringA(line);
}

void TraceYield() {
    Sleep(0);
}

void TraceSleep(DWORD milliseconds) {
    Sleep(milliseconds);
}

void TraceDefaultFilePath(WCHAR* path, size_t chars) {
    std::wcsncpy(path, kDefaultTraceFile, chars - 1);
    path[chars - 1] = L'\0';
}

WCHAR TracePathSeparator() {
    return L'\\';
}

TraceFileResult TraceAppendToFile(const WCHAR* path, const std::string& header,
                                  const std::string& text) {
    HANDLE file = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        switch (GetLastError()) {
        case ERROR_ACCESS_DENIED:
            return TraceFileResult::AccessDenied;
        case ERROR_SHARING_VIOLATION:
            return TraceFileResult::SharingViolation;
        default:
            return TraceFileResult::Failed;
        }
    }
    LARGE_INTEGER size{};
    bool written = GetFileSizeEx(file, &size) != FALSE;
    if (written && size.QuadPart == 0)
        written = WriteAll(file, header.data(), header.size());
    LARGE_INTEGER zero{};
    if (written)
        written = SetFilePointerEx(file, zero, nullptr, FILE_END) &&
                  WriteAll(file, text.data(), text.size());
    CloseHandle(file);
    return written ? TraceFileResult::Written : TraceFileResult::Failed;
}

bool TraceCreateFolder(const WCHAR* path) {
    if (CreateDirectoryW(path, nullptr))
        return true;
    const DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::unique_ptr<CTraceLock> CreateTraceLock() {
    return std::make_unique<CWin32TraceLock>();
}

std::unique_ptr<CTraceTimer> StartTraceTimer(DWORD periodMs, TraceTimerProc proc, void* context) {
    auto timer = std::make_unique<CWin32TraceTimer>(proc, context);
    if (!timer->Start(periodMs))
        return nullptr;
    return timer;
}
