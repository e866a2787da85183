// IoBuildDeviceIoControlRequest: an IRP the I/O manager owns. It buffers
// the caller's data by the code's transfer method and, on final completion,
// copies the status and output back, signals the caller's event and frees
// the IRP.
#include <wdm.h>

#include "km/irptracker.h"
#include "km/verifier.h"

namespace {

constexpr ULONG kSystemBufferTag = kmsim::MakeTag('I', 'o', 'S', 'b');

void FinishDeviceIoControl(PIRP irp, PVOID outputBuffer, ULONG outputBufferLength)
{
    NTSTATUS status = irp->IoStatus.Status;
    if ((irp->Flags & IRP_BUFFERED_IO) && (irp->Flags & IRP_INPUT_OPERATION) && !NT_ERROR(status) &&
        outputBuffer && irp->AssociatedIrp.SystemBuffer) {
        ULONG_PTR count = irp->IoStatus.Information;
        if (count > outputBufferLength) count = outputBufferLength;
        RtlCopyMemory(outputBuffer, irp->AssociatedIrp.SystemBuffer, count);
    }
    if (irp->UserIosb) *irp->UserIosb = irp->IoStatus;
    PKEVENT event = irp->UserEvent;
    IoFreeIrp(irp);
    if (event) KeSetEvent(event, IO_NO_INCREMENT, FALSE);
}

}  // namespace

PIRP IoBuildDeviceIoControlRequest(ULONG IoControlCode, PDEVICE_OBJECT DeviceObject, PVOID InputBuffer,
                                   ULONG InputBufferLength, PVOID OutputBuffer, ULONG OutputBufferLength,
                                   BOOLEAN InternalDeviceIoControl, PKEVENT Event,
                                   PIO_STATUS_BLOCK IoStatusBlock)
{
    if (KeGetCurrentIrql() > PASSIVE_LEVEL) {
        kmsim::ReportViolation("irql", "IoBuildDeviceIoControlRequest at IRQL " +
                                           std::to_string(KeGetCurrentIrql()));
    }
    if (!DeviceObject) return NULL;
    PIRP irp = IoAllocateIrp(DeviceObject->StackSize, FALSE);
    if (!irp) return NULL;
    PIO_STACK_LOCATION sp = IoGetNextIrpStackLocation(irp);
    sp->MajorFunction = InternalDeviceIoControl ? IRP_MJ_INTERNAL_DEVICE_CONTROL : IRP_MJ_DEVICE_CONTROL;
    sp->Parameters.DeviceIoControl.IoControlCode = IoControlCode;
    sp->Parameters.DeviceIoControl.InputBufferLength = InputBufferLength;
    sp->Parameters.DeviceIoControl.OutputBufferLength = OutputBufferLength;

    switch (IoControlCode & 3) {
    case METHOD_BUFFERED: {
        ULONG length = InputBufferLength > OutputBufferLength ? InputBufferLength : OutputBufferLength;
        if (length) {
            PVOID buffer = ExAllocatePoolWithTag(NonPagedPool, length, kSystemBufferTag);
            if (!buffer) {
                IoFreeIrp(irp);
                return NULL;
            }
            RtlZeroMemory(buffer, length);
            if (InputBuffer && InputBufferLength) RtlCopyMemory(buffer, InputBuffer, InputBufferLength);
            irp->AssociatedIrp.SystemBuffer = buffer;
            irp->Flags = IRP_BUFFERED_IO | IRP_DEALLOCATE_BUFFER;
            if (OutputBuffer && OutputBufferLength) irp->Flags |= IRP_INPUT_OPERATION;
        }
        irp->UserBuffer = OutputBuffer;
        break;
    }
    case METHOD_IN_DIRECT:
    case METHOD_OUT_DIRECT:
        // The input is buffered; the output stays the caller's memory (there
        // are no memory descriptor lists here), reached through UserBuffer.
        if (InputBuffer && InputBufferLength) {
            PVOID buffer = ExAllocatePoolWithTag(NonPagedPool, InputBufferLength, kSystemBufferTag);
            if (!buffer) {
                IoFreeIrp(irp);
                return NULL;
            }
            RtlCopyMemory(buffer, InputBuffer, InputBufferLength);
            irp->AssociatedIrp.SystemBuffer = buffer;
            irp->Flags = IRP_BUFFERED_IO | IRP_DEALLOCATE_BUFFER;
        }
        irp->UserBuffer = OutputBuffer;
        break;
    default:  // METHOD_NEITHER
        sp->Parameters.DeviceIoControl.Type3InputBuffer = InputBuffer;
        irp->UserBuffer = OutputBuffer;
        break;
    }
    irp->RequestorMode = KernelMode;
    irp->UserEvent = Event;
    irp->UserIosb = IoStatusBlock;
    kmsim::SetIrpFinalCompletion(irp, [OutputBuffer, OutputBufferLength](PIRP done) {
        FinishDeviceIoControl(done, OutputBuffer, OutputBufferLength);
    });
    return irp;
}
