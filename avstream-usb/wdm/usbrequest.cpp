#include "usbrequest.h"

#include <usbioctl.h>

namespace {

// One second in the relative 100-ns units of kernel waits.
constexpr LONGLONG kSubmitTimeout = -10'000'000;

NTSTATUS SignalQueryDone(PDEVICE_OBJECT, PIRP, PVOID context)
{
    KeSetEvent(static_cast<PKEVENT>(context), IO_NO_INCREMENT, FALSE);
    // The IRP is ours: keep the I/O manager away from it.
    return STATUS_MORE_PROCESSING_REQUIRED;
}

}  // namespace

NTSTATUS SubmitUrbSync(PDEVICE_OBJECT target, PURB urb)
{
    KEVENT done;
    IO_STATUS_BLOCK ioStatus{};
    KeInitializeEvent(&done, NotificationEvent, FALSE);

    // Built with an event, so the I/O manager frees it on completion.
    PIRP irp = IoBuildDeviceIoControlRequest(IOCTL_INTERNAL_USB_SUBMIT_URB, target, nullptr, 0, nullptr,
                                             0, TRUE, &done, &ioStatus);
    if (!irp) return STATUS_INSUFFICIENT_RESOURCES;
    IoGetNextIrpStackLocation(irp)->Parameters.Others.Argument1 = urb;

    NTSTATUS status = IoCallDriver(target, irp);
    if (status != STATUS_PENDING) return status;

    LARGE_INTEGER timeout;
    timeout.QuadPart = kSubmitTimeout;
    if (KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, &timeout) == STATUS_TIMEOUT) {
        IoCancelIrp(irp);
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
        return STATUS_TIMEOUT;
    }
    // After pending, the USB status tells why; but a failure must never be
    // turned into success by a URB status the stack did not fill in.
    if (!NT_SUCCESS(ioStatus.Status) && USBD_ERROR(urb->UrbHeader.Status)) return urb->UrbHeader.Status;
    return ioStatus.Status;
}

PUSB_BUS_INTERFACE_USBDI_V0 QueryUsbdiInterface(PDEVICE_OBJECT lowerDevice)
{
    auto record = static_cast<PUSB_BUS_INTERFACE_USBDI_V0>(AllocateBuffer(sizeof(USB_BUS_INTERFACE_USBDI_V0)));
    if (!record) return nullptr;

    PIRP irp = IoAllocateIrp(lowerDevice->StackSize, FALSE);
    if (!irp) {
        FreeBuffer(record);
        return nullptr;
    }
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    IoSetCompletionRoutine(irp, SignalQueryDone, &done, TRUE, TRUE, TRUE);

    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = IRP_MJ_PNP;
    next->MinorFunction = IRP_MN_QUERY_INTERFACE;
    next->Parameters.QueryInterface.InterfaceType = &USB_BUS_INTERFACE_USBDI_GUID;
    next->Parameters.QueryInterface.Size = sizeof(USB_BUS_INTERFACE_USBDI_V0);
    next->Parameters.QueryInterface.Version = USB_BUSIF_USBDI_VERSION_0;
    next->Parameters.QueryInterface.Interface = reinterpret_cast<PINTERFACE>(record);
    next->Parameters.QueryInterface.InterfaceSpecificData = nullptr;

    if (IoCallDriver(lowerDevice, irp) == STATUS_PENDING)
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
    NTSTATUS status = irp->IoStatus.Status;
    IoFreeIrp(irp);

    if (!NT_SUCCESS(status)) {
        FreeBuffer(record);
        return nullptr;
    }
    return record;
}
