#include "tools/kvssf/interrupt.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

namespace {

std::mutex g_lock;
std::function<void(int)> g_handler; // g_lock
std::atomic<int> g_status{0};
// A plain array: the watch thread may still read it while exit runs destructors.
char g_program[64] = "kvssf";

sigset_t WatchedSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

[[noreturn]] void EndNow(int status, bool again) {
    const std::string line = std::string(g_program) + ": " + StopReason(status) +
                             (again ? " again" : "") + ": ended at once\n";
    const ssize_t written = write(STDERR_FILENO, line.data(), line.size());
    (void)written;
    _exit(status);
}

void Deliver(int status, bool fromSignal) {
    int first = 0;
    if (!g_status.compare_exchange_strong(first, status)) {
        if (fromSignal)
            EndNow(status, true);
        return;
    }
    std::lock_guard<std::mutex> lock(g_lock);
    if (!g_handler)
        EndNow(status, false);
    g_handler(status);
}

void Watch() {
    const sigset_t set = WatchedSignals();
    for (;;) {
        int signal = 0;
        if (sigwait(&set, &signal) == 0)
            Deliver(signal == SIGINT ? kExitInterrupted : kExitTerminated, true);
    }
}

} // namespace

void InstallInterruptWatch(const char* program) {
    std::strncpy(g_program, program, sizeof g_program - 1);
    const sigset_t set = WatchedSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    signal(SIGPIPE, SIG_IGN);
    // Blocked in sigwait until the process ends; it never touches state that exit
    // destroys before it is needed.
    std::thread(Watch).detach();
}

void ArmInterruptHandler(std::function<void(int status)> handler) {
    std::lock_guard<std::mutex> lock(g_lock);
    g_handler = std::move(handler);
}

void DisarmInterruptHandler() {
    std::lock_guard<std::mutex> lock(g_lock);
    g_handler = nullptr;
}

void RequestStop(int status) {
    Deliver(status, false);
}

int StopRequested() {
    return g_status.load();
}

const char* StopReason(int status) {
    switch (status) {
    case kExitInterrupted:
        return "interrupted";
    case kExitTerminated:
        return "terminated";
    case kExitOutputClosed:
        return "output closed";
    default:
        return "stopped";
    }
}
