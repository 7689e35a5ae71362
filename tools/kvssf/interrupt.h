// Stop requests from SIGINT, SIGTERM and a closed standard output, taken on a thread of
// their own so that no work runs in a signal handler.
//
// InstallInterruptWatch blocks SIGINT and SIGTERM (every thread started later inherits
// the mask), ignores SIGPIPE (a write to a closed pipe fails with EPIPE instead) and
// starts a thread that takes the two signals with sigwait. The first request calls the
// armed handler; without one the process ends at once with the request's exit status. A
// second SIGINT or SIGTERM always ends the process at once.
#pragma once

#include <functional>

// The exit statuses a shell reports for the three signals.
constexpr int kExitInterrupted = 130;  // SIGINT
constexpr int kExitTerminated = 143;   // SIGTERM
constexpr int kExitOutputClosed = 141; // SIGPIPE

// Once, in main before any other thread starts. program prefixes the one line printed
// when the process ends at once ("kvssf play").
void InstallInterruptWatch(const char* program);

// handler(status) runs on the watch thread (or the thread of RequestStop) with the exit
// status of the first request; it must not block. While armed, the handler holds the
// watch's lock, so Disarm waits for a call in progress.
void ArmInterruptHandler(std::function<void(int status)> handler);
void DisarmInterruptHandler();

// The request a closed standard output makes (kExitOutputClosed), or any other; safe
// from any thread. Only the first request of the process is acted upon.
void RequestStop(int status);

// The status of the first request, 0 when none came.
int StopRequested();

// "interrupted", "terminated" or "output closed" for a request's status.
const char* StopReason(int status);
