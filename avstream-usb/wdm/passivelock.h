// A lock for passive level that may be held across waits (a request sent to
// the device, transfers draining), which a spin lock may not and a fast
// mutex should not: a synchronization event, free while signalled.
#pragma once

#include <ntddk.h>

class PassiveLock {
public:
    PassiveLock() { KeInitializeEvent(&m_event, SynchronizationEvent, TRUE); }
    PassiveLock(const PassiveLock&) = delete;
    PassiveLock& operator=(const PassiveLock&) = delete;

    void Acquire() { KeWaitForSingleObject(&m_event, Executive, KernelMode, FALSE, nullptr); }
    void Release() { KeSetEvent(&m_event, IO_NO_INCREMENT, FALSE); }

private:
    KEVENT m_event;
};

// Holds a PassiveLock for a scope.
class PassiveLockGuard {
public:
    explicit PassiveLockGuard(PassiveLock& lock) : m_lock(lock) { m_lock.Acquire(); }
    ~PassiveLockGuard() { m_lock.Release(); }
    PassiveLockGuard(const PassiveLockGuard&) = delete;
    PassiveLockGuard& operator=(const PassiveLockGuard&) = delete;

private:
    PassiveLock& m_lock;
};
