// Locks, events and threads of the operating system, for the framework's CCritSec,
// CAMEvent and CAMThread. Each backend defines:
//
//   CPlatformMutex   recursive: Lock, Unlock
//   CPlatformEvent   (manualReset): Valid, Set, Reset, Wait(ms) -> signalled
//   CPlatformThread  Start(proc, arg), Exists, IsCurrent, Join (waits unless called
//                    on the thread itself, then forgets it)
//   CurrentThreadId()
//   InitializeThreadCom() / UninitializeThreadCom(): COM for a worker thread
#pragma once

#include "framework/platform/platform.h"

#ifdef _WIN32
#include "framework/platform/win32/sync.h"
#else
#include "framework/platform/posix/sync.h"
#endif
