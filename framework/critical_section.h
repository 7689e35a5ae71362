// CCritSec: a recursive critical section; CAutoLock holds one for a scope.
#pragma once

#include "framework/platform/sync.h"

class CCritSec {
public:
    CCritSec() = default;

    void Lock() { m_mutex.Lock(); }
    void Unlock() { m_mutex.Unlock(); }

private:
    CCritSec(const CCritSec&) = delete;
    CCritSec& operator=(const CCritSec&) = delete;

    CPlatformMutex m_mutex;
};

class CAutoLock {
public:
    explicit CAutoLock(CCritSec* lock) : m_lock(lock) { m_lock->Lock(); }
    ~CAutoLock() { m_lock->Unlock(); }

private:
    CAutoLock(const CAutoLock&) = delete;
    CAutoLock& operator=(const CAutoLock&) = delete;

    CCritSec* const m_lock;
};
