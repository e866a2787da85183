// IRP cancellation and the one cancel spin lock that guards cancel routines.
#include <wdm.h>

#include "km/irptracker.h"
#include "km/lockorder.h"
#include "km/verifier.h"

#include <cstdio>

namespace {

KSPIN_LOCK g_cancelSpinLock = 0;

}  // namespace

void IoAcquireCancelSpinLock(PKIRQL Irql) { KeAcquireSpinLock(&g_cancelSpinLock, Irql); }

void IoReleaseCancelSpinLock(KIRQL Irql) { KeReleaseSpinLock(&g_cancelSpinLock, Irql); }

namespace {

// Sets Cancel and runs the cancel routine, if one is still set. Harmless on
// an IRP that completes meanwhile, as long as its memory stays.
BOOLEAN CancelIrp(PIRP Irp)
{
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    Irp->Cancel = TRUE;
    PDRIVER_CANCEL routine = IoSetCancelRoutine(Irp, NULL);
    if (!routine) {
        IoReleaseCancelSpinLock(irql);
        return FALSE;
    }
    Irp->CancelIrql = irql;
    PDEVICE_OBJECT device =
        Irp->CurrentLocation <= Irp->StackCount ? IoGetCurrentIrpStackLocation(Irp)->DeviceObject : NULL;
    // The routine releases the cancel spin lock, at CancelIrql.
    routine(device, Irp);
    if (kmsim::ThreadHoldsLock(&g_cancelSpinLock)) {
        kmsim::ReportViolation("irp", "a cancel routine returned without releasing the cancel spin lock");
        IoReleaseCancelSpinLock(irql);
    }
    return TRUE;
}

}  // namespace

BOOLEAN IoCancelIrp(PIRP Irp)
{
    if (!kmsim::IrpIsLive(Irp)) {
        char text[96];
        snprintf(text, sizeof text, "IoCancelIrp(IRP %p): not a live IRP", (void*)Irp);
        kmsim::ReportViolation("irp", text);
        return FALSE;
    }
    return CancelIrp(Irp);
}

BOOLEAN kmsim::CancelIssuedIrp(PIRP irp)
{
    return kmsim::IrpIsLive(irp) ? CancelIrp(irp) : FALSE;
}
