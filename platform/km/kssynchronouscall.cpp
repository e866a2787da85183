// Synchronous IRP round trip.
#include "km/kssynchronouscall.h"

namespace {

NTSTATUS SignalDone(PDEVICE_OBJECT, PIRP, PVOID context)
{
    KeSetEvent(static_cast<PKEVENT>(context), IO_NO_INCREMENT, FALSE);
    // The IRP is the sender's again; completion stops here.
    return STATUS_MORE_PROCESSING_REQUIRED;
}

}  // namespace

namespace kmsim {

NTSTATUS CallDriverSynchronously(PDEVICE_OBJECT deviceObject, PIRP irp)
{
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IoSetCompletionRoutine(irp, SignalDone, &done, TRUE, TRUE, TRUE);
    NTSTATUS status = IoCallDriver(deviceObject, irp);
    if (status == STATUS_PENDING) {
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
    }
    return irp->IoStatus.Status;
}

}  // namespace kmsim
