// Spin locks: real mutual exclusion on the KSPIN_LOCK word, taken at
// DISPATCH_LEVEL, with lock-order bookkeeping.
#include <wdm.h>

#include "km/lockorder.h"
#include "km/verifier.h"

#include <sched.h>

namespace {

// The word holds the owner's token while the lock is held: the address of
// a per-thread variable, never zero.
thread_local char t_ownerToken;

ULONG_PTR OwnerToken() { return ULONG_PTR(&t_ownerToken); }

void Spin(PKSPIN_LOCK lock)
{
    // Only the emulation's cores spin here; yield so that a holder on a
    // busy machine gets to run.
    for (unsigned attempt = 0;; ++attempt) {
        ULONG_PTR expected = 0;
        if (__atomic_compare_exchange_n(lock, &expected, OwnerToken(), false, __ATOMIC_ACQUIRE, __ATOMIC_RELAXED)) {
            return;
        }
        if (attempt > 64) sched_yield();
    }
}

void Acquire(PKSPIN_LOCK lock)
{
    if (!kmsim::LockOrderBeforeAcquire(lock, kmsim::LockKind::SpinLock)) return;  // would never return
    Spin(lock);
    kmsim::LockOrderAcquired(lock, kmsim::LockKind::SpinLock);
}

void Release(PKSPIN_LOCK lock)
{
    if (__atomic_load_n(lock, __ATOMIC_RELAXED) != OwnerToken()) {
        kmsim::LockOrderReleased(lock, kmsim::LockKind::SpinLock);  // reports the misuse
        return;
    }
    kmsim::LockOrderReleased(lock, kmsim::LockKind::SpinLock);
    __atomic_store_n(lock, ULONG_PTR(0), __ATOMIC_RELEASE);
}

}  // namespace

void KeInitializeSpinLock(PKSPIN_LOCK SpinLock)
{
    kmsim::LockOrderForget(SpinLock);
    *SpinLock = 0;
}

void KeAcquireSpinLock(PKSPIN_LOCK SpinLock, PKIRQL OldIrql)
{
    if (KeGetCurrentIrql() > DISPATCH_LEVEL) {
        kmsim::ReportViolation("irql", "KeAcquireSpinLock at IRQL " + std::to_string(KeGetCurrentIrql()));
    }
    KIRQL old = KeGetCurrentIrql();
    if (old < DISPATCH_LEVEL) KeRaiseIrql(DISPATCH_LEVEL, &old);
    Acquire(SpinLock);
    *OldIrql = old;
}

void KeReleaseSpinLock(PKSPIN_LOCK SpinLock, KIRQL NewIrql)
{
    if (KeGetCurrentIrql() != DISPATCH_LEVEL) {
        kmsim::ReportViolation("irql", "KeReleaseSpinLock at IRQL " + std::to_string(KeGetCurrentIrql()));
    }
    Release(SpinLock);
    KeLowerIrql(NewIrql);
}

void KeAcquireSpinLockAtDpcLevel(PKSPIN_LOCK SpinLock)
{
    if (KeGetCurrentIrql() != DISPATCH_LEVEL) {
        kmsim::ReportViolation("irql", "KeAcquireSpinLockAtDpcLevel at IRQL " + std::to_string(KeGetCurrentIrql()));
    }
    Acquire(SpinLock);
}

void KeReleaseSpinLockFromDpcLevel(PKSPIN_LOCK SpinLock)
{
    if (KeGetCurrentIrql() != DISPATCH_LEVEL) {
        kmsim::ReportViolation("irql",
                               "KeReleaseSpinLockFromDpcLevel at IRQL " + std::to_string(KeGetCurrentIrql()));
    }
    Release(SpinLock);
}
