// Interrupt request level, per thread: the emulation runs kernel code on
// ordinary threads, so each one carries the level its code would run at.
#include <wdm.h>

#include "km/lockorder.h"
#include "km/verifier.h"

#include <string>

namespace {

thread_local KIRQL t_irql = PASSIVE_LEVEL;

std::string Levels(KIRQL from, KIRQL to)
{
    return "from " + std::to_string(from) + " to " + std::to_string(to);
}

}  // namespace

KIRQL KeGetCurrentIrql(void) { return t_irql; }

void KeRaiseIrql(KIRQL NewIrql, PKIRQL OldIrql)
{
    if (NewIrql < t_irql) {
        kmsim::ReportViolation("irql", "KeRaiseIrql to a lower level (" + Levels(t_irql, NewIrql) + ")");
    }
    if (OldIrql) *OldIrql = t_irql;
    t_irql = NewIrql;
}

void KeLowerIrql(KIRQL NewIrql)
{
    if (NewIrql > t_irql) {
        kmsim::ReportViolation("irql", "KeLowerIrql to a higher level (" + Levels(t_irql, NewIrql) + ")");
    }
    if (NewIrql < DISPATCH_LEVEL && kmsim::HeldSpinLockCount() > 0) {
        kmsim::ReportViolation("irql", "KeLowerIrql below DISPATCH_LEVEL while holding a spin lock");
    }
    t_irql = NewIrql;
}

KIRQL KeRaiseIrqlToDpcLevel(void)
{
    KIRQL old;
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    return old;
}
