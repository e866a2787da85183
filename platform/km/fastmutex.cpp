// Fast mutexes as Windows builds them: Count is 1 when free; a contended
// acquire waits on the synchronisation event inside the mutex. Holding one
// raises to APC_LEVEL.
#include <wdm.h>

#include "km/lockorder.h"
#include "km/verifier.h"

namespace {

// Owner identifies the holding thread (never dereferenced).
thread_local char t_ownerToken;

PVOID CurrentOwner() { return &t_ownerToken; }

bool AtAllowedIrql(const char* routine)
{
    if (KeGetCurrentIrql() <= APC_LEVEL) return true;
    kmsim::ReportViolation("irql", std::string(routine) + " at IRQL " + std::to_string(KeGetCurrentIrql()));
    return false;
}

}  // namespace

void ExInitializeFastMutex(PFAST_MUTEX FastMutex)
{
    kmsim::LockOrderForget(FastMutex);
    FastMutex->Count = 1;
    FastMutex->Owner = NULL;
    FastMutex->Contention = 0;
    FastMutex->OldIrql = PASSIVE_LEVEL;
    KeInitializeEvent(&FastMutex->Event, SynchronizationEvent, FALSE);
}

void ExAcquireFastMutex(PFAST_MUTEX FastMutex)
{
    AtAllowedIrql("ExAcquireFastMutex");
    // A recursive acquire would block forever; it is reported and skipped.
    if (!kmsim::LockOrderBeforeAcquire(FastMutex, kmsim::LockKind::FastMutex)) return;
    KIRQL old = KeGetCurrentIrql();
    if (old < APC_LEVEL) KeRaiseIrql(APC_LEVEL, &old);
    if (InterlockedDecrement(&FastMutex->Count) != 0) {
        InterlockedIncrement(reinterpret_cast<LONG volatile*>(&FastMutex->Contention));
        KeWaitForSingleObject(&FastMutex->Event, Executive, KernelMode, FALSE, NULL);
    }
    FastMutex->Owner = CurrentOwner();
    FastMutex->OldIrql = old;
    kmsim::LockOrderAcquired(FastMutex, kmsim::LockKind::FastMutex);
}

BOOLEAN ExTryToAcquireFastMutex(PFAST_MUTEX FastMutex)
{
    AtAllowedIrql("ExTryToAcquireFastMutex");
    KIRQL old = KeGetCurrentIrql();
    if (old < APC_LEVEL) KeRaiseIrql(APC_LEVEL, &old);
    if (InterlockedCompareExchange(&FastMutex->Count, 0, 1) != 1) {
        KeLowerIrql(old);
        return FALSE;
    }
    FastMutex->Owner = CurrentOwner();
    FastMutex->OldIrql = old;
    // Taking it cannot deadlock, but the order it sets up can.
    kmsim::LockOrderBeforeAcquire(FastMutex, kmsim::LockKind::FastMutex);
    kmsim::LockOrderAcquired(FastMutex, kmsim::LockKind::FastMutex);
    return TRUE;
}

void ExReleaseFastMutex(PFAST_MUTEX FastMutex)
{
    if (FastMutex->Owner != CurrentOwner()) {
        kmsim::LockOrderReleased(FastMutex, kmsim::LockKind::FastMutex);  // reports the misuse
        return;
    }
    if (KeGetCurrentIrql() != APC_LEVEL) {
        kmsim::ReportViolation("irql", "ExReleaseFastMutex at IRQL " + std::to_string(KeGetCurrentIrql()));
    }
    kmsim::LockOrderReleased(FastMutex, kmsim::LockKind::FastMutex);
    auto old = KIRQL(FastMutex->OldIrql);
    FastMutex->Owner = NULL;
    if (InterlockedIncrement(&FastMutex->Count) != 1) KeSetEvent(&FastMutex->Event, IO_NO_INCREMENT, FALSE);
    KeLowerIrql(old);
}
