// A minimal WDM function driver: an FDO over the bus's PDO that passes
// everything down and goes away with the device.
#include "km/genericaudioclassdriver.h"

namespace kmsim {
namespace {

struct Extension {
    PDEVICE_OBJECT lower;
};

PDEVICE_OBJECT LowerOf(PDEVICE_OBJECT fdo) { return static_cast<Extension*>(fdo->DeviceExtension)->lower; }

NTSTATUS AddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo)
{
    PDEVICE_OBJECT fdo = nullptr;
    NTSTATUS status = IoCreateDevice(driver, sizeof(Extension), nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &fdo);
    if (!NT_SUCCESS(status)) return status;
    PDEVICE_OBJECT lower = IoAttachDeviceToDeviceStack(fdo, pdo);
    if (!lower) {
        IoDeleteDevice(fdo);
        return STATUS_NO_SUCH_DEVICE;
    }
    static_cast<Extension*>(fdo->DeviceExtension)->lower = lower;
    fdo->Flags &= ~ULONG(DO_DEVICE_INITIALIZING);
    return STATUS_SUCCESS;
}

NTSTATUS DispatchPnp(PDEVICE_OBJECT fdo, PIRP irp)
{
    PDEVICE_OBJECT lower = LowerOf(fdo);
    switch (IoGetCurrentIrpStackLocation(irp)->MinorFunction) {
    case IRP_MN_START_DEVICE:
    case IRP_MN_SURPRISE_REMOVAL:
    case IRP_MN_QUERY_REMOVE_DEVICE:
        // Handled: nothing of its own to start or stop.
        irp->IoStatus.Status = STATUS_SUCCESS;
        break;
    case IRP_MN_REMOVE_DEVICE: {
        irp->IoStatus.Status = STATUS_SUCCESS;
        IoSkipCurrentIrpStackLocation(irp);
        NTSTATUS status = IoCallDriver(lower, irp);
        IoDetachDevice(lower);
        IoDeleteDevice(fdo);
        return status;
    }
    default:
        break;
    }
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(lower, irp);
}

NTSTATUS DispatchPower(PDEVICE_OBJECT fdo, PIRP irp)
{
    irp->IoStatus.Status = STATUS_SUCCESS;
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(LowerOf(fdo), irp);
}

void Unload(PDRIVER_OBJECT) {}

}  // namespace

NTSTATUS GenericAudioClassDriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING)
{
    driver->DriverExtension->AddDevice = AddDevice;
    driver->MajorFunction[IRP_MJ_PNP] = DispatchPnp;
    driver->MajorFunction[IRP_MJ_POWER] = DispatchPower;
    driver->DriverUnload = Unload;
    return STATUS_SUCCESS;
}

}  // namespace kmsim
