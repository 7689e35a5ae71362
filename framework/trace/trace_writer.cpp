#include "framework/trace/trace_writer.h"

#include <cwchar>
#include <new>

#include "framework/critical_section.h"

namespace {

constexpr DWORD kTimerPeriodMs = 500;
constexpr auto kMinTimerFlushInterval = std::chrono::milliseconds(51);
constexpr DWORD kReleaseLockAttempts = 10;
constexpr DWORD kReleaseLockIntervalMs = 100;
constexpr DWORD kStopTimerWaitMs = 1000;
constexpr auto kSharingRetryTime = std::chrono::milliseconds(1000);
constexpr DWORD kSharingRetryIntervalMs = 1;
constexpr DWORD kBlockBusyWaitMs = 10;
constexpr int kBlockNameTag = 642;
constexpr char kUtf8ByteOrderMark[] = "\xEF\xBB\xBF";

bool IsPathSeparator(WCHAR c) {
    return c == L'\\' || c == L'/';
}

// Serialises this module's attaching and releasing.
CCritSec& ModuleAttachLock() {
    static CCritSec lock;
    return lock;
}

// Inside the shared block for its lifetime: enters when its increment of the busy counter
// finds no other holder, else takes the increment back and waits 10 ms.
class CBlockHolder {
public:
    explicit CBlockHolder(TraceSharedBlock* block) : m_block(block) {
        while (m_block->Busy.fetch_add(1, std::memory_order_acquire) != 0) {
            m_block->Busy.fetch_sub(1, std::memory_order_relaxed);
            TraceSleep(kBlockBusyWaitMs);
        }
    }
    ~CBlockHolder() { m_block->Busy.fetch_sub(1, std::memory_order_release); }

private:
    CBlockHolder(const CBlockHolder&) = delete;
    CBlockHolder& operator=(const CBlockHolder&) = delete;

    TraceSharedBlock* const m_block;
};

} // namespace

CTraceWriter::CTraceWriter(const WCHAR* path)
    : m_lock(CreateTraceLock()), m_flushLock(CreateTraceLock()) {
    std::wcsncpy(m_path, path, KTRACE_PATH_CHARS - 1);
    m_path[KTRACE_PATH_CHARS - 1] = L'\0';
}

CTraceWriter::~CTraceWriter() {
    StopTimer();
}

void CTraceWriter::Append(const char* text) {
    m_lock->Lock();
    try {
        for (const char* p = text; *p; ++p) {
            if (*p == '\r' || *p == '\n') {
                m_pending += "\r\n";
                if (p[0] == '\r' && p[1] == '\n')
                    ++p;
            } else {
                m_pending += *p;
            }
        }
        if (!m_timer)
            m_timer = StartTraceTimer(kTimerPeriodMs, &CTraceWriter::OnTimer, this);
    } catch (const std::bad_alloc&) {
        // The text and the timer are lost; the next append tries again.
    }
    m_lock->Unlock();
}

void CTraceWriter::Flush() {
    m_flushLock->Lock();
    FlushLocked();
    m_flushLock->Unlock();
}

void CTraceWriter::FlushOnRelease() {
    for (DWORD attempt = 0;; ++attempt) {
        if (m_flushLock->TryLock())
            break;
        if (attempt == kReleaseLockAttempts)
            return;
        TraceSleep(kReleaseLockIntervalMs);
    }
    FlushLocked();
    m_flushLock->Unlock();
}

void CTraceWriter::StopTimer() {
    m_lock->Lock();
    std::unique_ptr<CTraceTimer> timer = std::move(m_timer);
    m_lock->Unlock();
    // Outside the lock: the timer flush being waited for takes it.
    if (timer)
        timer->Stop(kStopTimerWaitMs);
}

void CTraceWriter::OnTimer(void* context) {
    static_cast<CTraceWriter*>(context)->TimerFlush();
}

void CTraceWriter::TimerFlush() {
    if (!m_flushLock->TryLock())
        return;
    if (!m_flushed || std::chrono::steady_clock::now() - m_lastFlush >= kMinTimerFlushInterval)
        FlushLocked();
    m_flushLock->Unlock();
}

void CTraceWriter::FlushLocked() {
    std::string text;
    m_lock->Lock();
    text.swap(m_pending);
    m_lock->Unlock();
    m_flushed = true;
    m_lastFlush = std::chrono::steady_clock::now();
    if (!text.empty())
        WriteLocked(text);
}

void CTraceWriter::WriteLocked(const std::string& text) {
    bool retryingSharing = false;
    std::chrono::steady_clock::time_point sharingDeadline;
    for (;;) {
        switch (TraceAppendToFile(m_path, std::string(kUtf8ByteOrderMark), text)) {
        case TraceFileResult::Written:
            return;
        case TraceFileResult::SharingViolation:
            if (!retryingSharing) {
                retryingSharing = true;
                sharingDeadline = std::chrono::steady_clock::now() + kSharingRetryTime;
            } else if (std::chrono::steady_clock::now() >= sharingDeadline) {
                return;
            }
            TraceSleep(kSharingRetryIntervalMs);
            break;
        case TraceFileResult::AccessDenied:
            if (!m_fallbackAllowed)
                return;
            m_fallbackAllowed = false;
            if (!FallBackToFolderLocked())
                return;
            break;
        case TraceFileResult::Failed:
            return;
        }
    }
}

bool CTraceWriter::FallBackToFolderLocked() {
    const size_t length = std::wcslen(m_path);
    size_t nameStart = length;
    while (nameStart > 0 && !IsPathSeparator(m_path[nameStart - 1]))
        --nameStart;
    const size_t nameLength = length - nameStart;
    if (nameLength == 0 || length + 1 + nameLength >= KTRACE_PATH_CHARS)
        return false;
    if (!TraceCreateFolder(m_path))
        return false;
    m_path[length] = TracePathSeparator();
    std::wmemcpy(m_path + length + 1, m_path + nameStart, nameLength);
    m_path[length + 1 + nameLength] = L'\0';
    return true;
}

CTraceWriter* CTraceModuleLink::Writer() {
    CTraceWriter* writer = Attached();
    if (writer)
        return writer;
    CAutoLock attach(&ModuleAttachLock());
    writer = Attached();
    return writer ? writer : AttachLocked();
}

CTraceWriter* CTraceModuleLink::AttachLocked() {
    if (g_wszKTraceFile[0] == L'\0')
        TraceDefaultFilePath(g_wszKTraceFile, KTRACE_PATH_CHARS);
    void* handle = nullptr;
    TraceSharedBlock* block =
        TraceOpenSharedBlock(TraceSharedBlockName(TraceProcessId(), g_wszKTraceFile), &handle);
    if (!block)
        return nullptr;
    CTraceWriter* writer = nullptr;
    {
        CBlockHolder holder(block);
        writer = block->Writer.load(std::memory_order_relaxed);
        if (!writer) {
            try {
                writer = new CTraceWriter(g_wszKTraceFile);
            } catch (const std::bad_alloc&) {
                writer = nullptr;
            }
            block->Writer.store(writer, std::memory_order_relaxed);
        }
        if (writer)
            ++writer->m_cModules;
    }
    if (!writer) {
        TraceCloseSharedBlock(block, handle);
        return nullptr;
    }
    m_block = block;
    m_blockHandle = handle;
    m_writer.store(writer, std::memory_order_release);
    return writer;
}

void CTraceModuleLink::Release() {
    CAutoLock attach(&ModuleAttachLock());
    CTraceWriter* writer = Attached();
    if (!writer)
        return;
    writer->FlushOnRelease();
    writer->StopTimer();
    bool last = false;
    {
        CBlockHolder holder(m_block);
        last = --writer->m_cModules == 0;
        if (last)
            m_block->Writer.store(nullptr, std::memory_order_relaxed);
    }
    m_writer.store(nullptr, std::memory_order_release);
    TraceCloseSharedBlock(m_block, m_blockHandle);
    m_block = nullptr;
    m_blockHandle = nullptr;
    if (last)
        delete writer;
}

std::wstring TraceSharedBlockName(DWORD processId, const WCHAR* path) {
    wchar_t head[32];
    std::swprintf(head, sizeof(head) / sizeof(head[0]), L"%08X.%d.", unsigned(processId),
                  kBlockNameTag);
    std::wstring name = head;
    for (const WCHAR* p = path; *p; ++p)
        name += *p == L'\\' ? L'/' : *p;
    return name;
}
