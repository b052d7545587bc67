// Holds an SRW lock exclusively for one scope. Not re-entrant: a thread that takes a lock
// it already holds waits for ever, so nothing that can call back runs under one.
#pragma once

#include <windows.h>

namespace engine::win32 {

class ExclusiveLock {
public:
    explicit ExclusiveLock(SRWLOCK& lock) : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
    ~ExclusiveLock() { ReleaseSRWLockExclusive(&lock_); }
    ExclusiveLock(const ExclusiveLock&) = delete;
    ExclusiveLock& operator=(const ExclusiveLock&) = delete;

private:
    SRWLOCK& lock_;
};

}  // namespace engine::win32
