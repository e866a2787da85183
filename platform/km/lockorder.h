// Lock-order bookkeeping shared by spin locks and fast mutexes: which locks
// each thread holds, and which orders of acquisition have been seen.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kmsim {

enum class LockKind { SpinLock, FastMutex };

// Call before blocking on the lock: reports an acquisition that inverts an
// order seen earlier, or that would deadlock on a lock the thread holds.
// Returns false when the thread already holds the lock (the caller must not
// wait for it).
bool LockOrderBeforeAcquire(const void* lock, LockKind kind);
void LockOrderAcquired(const void* lock, LockKind kind);
// Returns false (after reporting) when the thread does not hold the lock.
bool LockOrderReleased(const void* lock, LockKind kind);

size_t HeldSpinLockCount();
bool ThreadHoldsLock(const void* lock);

// The lock's history no longer applies: it was re-initialised, or the
// memory holding it was freed. Reports if some thread still holds a lock
// in the range.
void LockOrderForget(const void* lock);
void LockOrderForgetRange(uintptr_t begin, uintptr_t end);

}  // namespace kmsim
