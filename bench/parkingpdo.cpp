#include "parkingpdo.h"

#include <usbioctl.h>

namespace bench {
namespace {

struct Extension {
    ParkingPdo* owner;
};

bool IsIsochronousTransfer(PIRP irp)
{
    PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
    if (sp->MajorFunction != IRP_MJ_INTERNAL_DEVICE_CONTROL ||
        sp->Parameters.DeviceIoControl.IoControlCode != IOCTL_INTERNAL_USB_SUBMIT_URB)
        return false;
    auto* urb = static_cast<PURB>(sp->Parameters.Others.Argument1);
    return urb && urb->UrbHeader.Function == URB_FUNCTION_ISOCH_TRANSFER;
}

}  // namespace

ParkingPdo::ParkingPdo(PDEVICE_OBJECT busPdo) : m_busPdo(busPdo)
{
    if (!NT_SUCCESS(IoCreateDevice(m_driver.Object(), sizeof(Extension), nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &m_device)))
        return;
    static_cast<Extension*>(m_device->DeviceExtension)->owner = this;
    // Requests passed on reuse this device's stack location.
    m_device->StackSize = CCHAR(busPdo->StackSize + 1);
    m_device->Flags &= ~DO_DEVICE_INITIALIZING;
}

ParkingPdo::~ParkingPdo()
{
    if (m_device) IoDeleteDevice(m_device);
}

NTSTATUS ParkingPdo::Dispatch(PDEVICE_OBJECT device, PIRP irp)
{
    ParkingPdo* self = static_cast<Extension*>(device->DeviceExtension)->owner;
    if (IsIsochronousTransfer(irp)) {
        auto* urb = static_cast<PURB>(IoGetCurrentIrpStackLocation(irp)->Parameters.Others.Argument1);
        urb->UrbHeader.Status = USBD_STATUS_PENDING;
        IoMarkIrpPending(irp);
        std::lock_guard lock(self->m_lock);
        self->m_parked.push_back(irp);
        return STATUS_PENDING;
    }
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(self->m_busPdo, irp);
}

size_t ParkingPdo::Parked()
{
    std::lock_guard lock(m_lock);
    return m_parked.size();
}

bool ParkingPdo::CompleteOldest(NTSTATUS status)
{
    PIRP irp;
    {
        std::lock_guard lock(m_lock);
        if (m_parked.empty()) return false;
        irp = m_parked.front();
        m_parked.pop_front();
    }
    auto& iso = static_cast<PURB>(IoGetCurrentIrpStackLocation(irp)->Parameters.Others.Argument1)->UrbIsochronousTransfer;
    const USBD_STATUS usbd = NT_SUCCESS(status) ? USBD_STATUS_SUCCESS : USBD_STATUS_CANCELED;
    iso.Hdr.Status = usbd;
    for (ULONG k = 0; k < iso.NumberOfPackets; ++k) iso.IsoPacket[k].Status = usbd;
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = 0;

    // Completion routines run at DISPATCH_LEVEL, as from the host controller.
    KIRQL old;
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    KeLowerIrql(old);
    return true;
}

}  // namespace bench
