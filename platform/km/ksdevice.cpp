// KsInitializeDriver and the device side of the class driver: AddDevice, the
// major-function dispatch, PnP and power requests, and device removal.
#include "km/ksdevice.h"

#include "km/kssynchronouscall.h"
#include "km/pnpmanager.h"
#include "km/verifier.h"

#include <algorithm>
#include <initializer_list>

#ifndef IRP_MN_CANCEL_REMOVE_DEVICE
#define IRP_MN_CANCEL_REMOVE_DEVICE 0x03
#endif
#ifndef IRP_MN_QUERY_STOP_DEVICE
#define IRP_MN_QUERY_STOP_DEVICE 0x05
#endif
#ifndef IRP_MN_CANCEL_STOP_DEVICE
#define IRP_MN_CANCEL_STOP_DEVICE 0x06
#endif

namespace kmsim::ks {
namespace {

constexpr ULONG kFdoMagic = 0x4B734476;  // "vDsK": marks a KS functional device object

struct FdoExtension {
    ULONG magic;
    Device* device;
};

// Lower drivers that have nothing to do with a request say so with one of
// these; the request still succeeds for this device.
bool NotHandledBelow(NTSTATUS status)
{
    return status == STATUS_NOT_SUPPORTED || status == STATUS_INVALID_DEVICE_REQUEST;
}

NTSTATUS Complete(PIRP irp, NTSTATUS status)
{
    irp->IoStatus.Status = status;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

NTSTATUS PassDown(Device* device, PIRP irp)
{
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(device->ks.NextDeviceObject, irp);
}

NTSTATUS ForwardLeniently(Device* device, PIRP irp)
{
    NTSTATUS status = ForwardAndWait(device->ks.NextDeviceObject, irp);
    return NotHandledBelow(status) ? STATUS_SUCCESS : status;
}

void DestroyDevice(Device* device)
{
    FreeObjectBag(device->bag);
    UnregisterObject(device);
    {
        std::lock_guard lock(TreeLock());
        if (device->driver) std::erase(device->driver->devices, device);
    }
    PDEVICE_OBJECT fdo = device->ks.FunctionalDeviceObject;
    if (device->ks.NextDeviceObject) IoDetachDevice(device->ks.NextDeviceObject);
    delete device;
    IoDeleteDevice(fdo);
}

NTSTATUS CreateStaticFactories(Device* device)
{
    const KSDEVICE_DESCRIPTOR* descriptor = device->ks.Descriptor;
    if (!descriptor || !descriptor->FilterDescriptors) return STATUS_SUCCESS;
    WCHAR referenceString[] = u"GLOBAL";
    for (ULONG i = 0; i < descriptor->FilterDescriptorsCount; ++i) {
        NTSTATUS status = KsCreateFilterFactory(device->ks.FunctionalDeviceObject, descriptor->FilterDescriptors[i],
                                                referenceString, nullptr, 0, nullptr, nullptr, nullptr);
        if (!NT_SUCCESS(status)) return status;
    }
    return STATUS_SUCCESS;
}

NTSTATUS StartDevice(Device* device, PIRP irp)
{
    NTSTATUS status = ForwardLeniently(device, irp);
    const KSDEVICE_DISPATCH* dispatch = device->ks.Descriptor ? device->ks.Descriptor->Dispatch : nullptr;
    if (NT_SUCCESS(status) && dispatch && dispatch->Start) status = dispatch->Start(&device->ks, irp, nullptr, nullptr);
    if (NT_SUCCESS(status)) status = CreateStaticFactories(device);
    if (NT_SUCCESS(status)) {
        device->ks.Started = TRUE;
        if (dispatch && dispatch->PostStart) status = dispatch->PostStart(&device->ks);
    }
    return Complete(irp, status);
}

// The hardware is gone but user-mode clients keep their handles until they
// close them: their interfaces go, and what they have queued ends now rather
// than wait for frames that will never come. Kernel clients are closed by
// the removal that follows at once, as before, while the driver may still
// be processing their pins.
void EndClientStreams(Device* device)
{
    if (!HasOpenUserFiles(device->ks.PhysicalDeviceObject)) return;
    device->surpriseRemoved = true;
    std::vector<Factory*> factories;
    {
        std::lock_guard lock(TreeLock());
        factories = device->factories;
    }
    // The device mutex keeps filters, each filter's control lock its pins.
    std::lock_guard deviceLock(device->mutex);
    for (Factory* factory : factories) {
        SetDeviceInterfacesState(factory, false);
        std::vector<Filter*> filters;
        {
            std::lock_guard lock(TreeLock());
            filters = factory->filters;
        }
        for (Filter* filter : filters) {
            std::lock_guard control(filter->control);
            std::vector<Pin*> pins;
            {
                std::lock_guard lock(TreeLock());
                pins = filter->pins;
            }
            for (Pin* pin : pins) {
                ForgetAsynchronousProcessing(pin);
                FlushStreamQueue(pin);
            }
        }
    }
}

void RemoveDevice(Device* device, PIRP irp)
{
    // User-mode handles are all closed before removal comes; kernel clients
    // still open here are closed first, as their handles would be.
    for (;;) {
        Factory* factory = nullptr;
        {
            std::lock_guard lock(TreeLock());
            if (device->factories.empty()) break;
            factory = device->factories.back();
        }
        DestroyFactory(factory);
    }
    const KSDEVICE_DISPATCH* dispatch = device->ks.Descriptor ? device->ks.Descriptor->Dispatch : nullptr;
    if (dispatch && dispatch->Remove) dispatch->Remove(&device->ks, irp);
    device->removed = true;
    device->ks.Started = FALSE;
    ForwardLeniently(device, irp);
    Complete(irp, STATUS_SUCCESS);
    DestroyDevice(device);
}

NTSTATUS DispatchPnp(Device* device, PIRP irp)
{
    PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
    const KSDEVICE_DISPATCH* dispatch = device->ks.Descriptor ? device->ks.Descriptor->Dispatch : nullptr;
    PKSDEVICE ks = &device->ks;
    switch (sp->MinorFunction) {
    case IRP_MN_START_DEVICE:
        return StartDevice(device, irp);
    case IRP_MN_QUERY_CAPABILITIES: {
        NTSTATUS status = ForwardLeniently(device, irp);
        if (NT_SUCCESS(status) && dispatch && dispatch->QueryCapabilities) {
            status = dispatch->QueryCapabilities(ks, irp, sp->Parameters.DeviceCapabilities.Capabilities);
        }
        return Complete(irp, status);
    }
    case IRP_MN_QUERY_STOP_DEVICE:
    case IRP_MN_QUERY_REMOVE_DEVICE: {
        PFNKSDEVICEIRP query = !dispatch ? nullptr
                               : sp->MinorFunction == IRP_MN_QUERY_STOP_DEVICE ? dispatch->QueryStop
                                                                                : dispatch->QueryRemove;
        NTSTATUS status = query ? query(ks, irp) : STATUS_SUCCESS;
        if (NT_SUCCESS(status)) status = ForwardLeniently(device, irp);
        return Complete(irp, status);
    }
    case IRP_MN_CANCEL_STOP_DEVICE:
    case IRP_MN_CANCEL_REMOVE_DEVICE:
    case IRP_MN_STOP_DEVICE:
    case IRP_MN_SURPRISE_REMOVAL: {
        NTSTATUS status = ForwardLeniently(device, irp);
        PFNKSDEVICEIRPVOID notify = nullptr;
        if (dispatch) {
            switch (sp->MinorFunction) {
            case IRP_MN_CANCEL_STOP_DEVICE: notify = dispatch->CancelStop; break;
            case IRP_MN_CANCEL_REMOVE_DEVICE: notify = dispatch->CancelRemove; break;
            case IRP_MN_STOP_DEVICE: notify = dispatch->Stop; break;
            default: notify = dispatch->SurpriseRemoval; break;
            }
        }
        if (notify) notify(ks, irp);
        if (sp->MinorFunction == IRP_MN_STOP_DEVICE) ks->Started = FALSE;
        if (sp->MinorFunction == IRP_MN_SURPRISE_REMOVAL) EndClientStreams(device);
        return Complete(irp, status);
    }
    case IRP_MN_REMOVE_DEVICE:
        RemoveDevice(device, irp);
        return STATUS_SUCCESS;
    case IRP_MN_QUERY_INTERFACE:
        if (dispatch && dispatch->QueryInterface) {
            NTSTATUS status = dispatch->QueryInterface(ks, irp);
            if (status != STATUS_NOT_SUPPORTED) return Complete(irp, status);
        }
        return PassDown(device, irp);
    default:
        return PassDown(device, irp);
    }
}

NTSTATUS DispatchPower(Device* device, PIRP irp)
{
    PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
    const KSDEVICE_DISPATCH* dispatch = device->ks.Descriptor ? device->ks.Descriptor->Dispatch : nullptr;
    PKSDEVICE ks = &device->ks;
    if (sp->MinorFunction == IRP_MN_SET_POWER) {
        if (sp->Parameters.Power.Type == SystemPowerState) {
            ks->SystemPowerState = sp->Parameters.Power.State.SystemState;
            return Complete(irp, ForwardLeniently(device, irp));
        }
        DEVICE_POWER_STATE to = sp->Parameters.Power.State.DeviceState;
        DEVICE_POWER_STATE from = ks->DevicePowerState;
        if (to <= PowerDeviceUnspecified || to >= PowerDeviceMaximum) return Complete(irp, STATUS_INVALID_PARAMETER);
        if (to == from) return Complete(irp, ForwardLeniently(device, irp));
        // Powering up, the hardware below wakes first; powering down, the
        // minidriver quiets it before it goes.
        NTSTATUS status = STATUS_SUCCESS;
        if (to < from) status = ForwardLeniently(device, irp);
        if (NT_SUCCESS(status)) {
            if (dispatch && dispatch->SetPower) dispatch->SetPower(ks, irp, to, from);
            ks->DevicePowerState = to;
            if (to > from) status = ForwardLeniently(device, irp);
        }
        return Complete(irp, status);
    }
    if (sp->MinorFunction == IRP_MN_QUERY_POWER) {
        NTSTATUS status = STATUS_SUCCESS;
        if (sp->Parameters.Power.Type == DevicePowerState && dispatch && dispatch->QueryPower) {
            status = dispatch->QueryPower(ks, irp, sp->Parameters.Power.State.DeviceState, ks->DevicePowerState,
                                          PowerSystemWorking, ks->SystemPowerState, PowerActionNone);
        }
        if (NT_SUCCESS(status)) status = ForwardLeniently(device, irp);
        return Complete(irp, status);
    }
    return PassDown(device, irp);
}

NTSTATUS DispatchDeviceControl(PIRP irp)
{
    PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
    NTSTATUS status;
    irp->IoStatus.Information = 0;
    switch (sp->Parameters.DeviceIoControl.IoControlCode) {
    case IOCTL_KS_PROPERTY: status = DispatchProperty(irp); break;
    case IOCTL_KS_ENABLE_EVENT: status = DispatchEnableEvent(irp); break;
    case IOCTL_KS_DISABLE_EVENT: status = DispatchDisableEvent(irp); break;
    case IOCTL_KS_METHOD: status = STATUS_NOT_FOUND; break;  // no method sets are served
    case IOCTL_KS_WRITE_STREAM:
    case IOCTL_KS_READ_STREAM:
    case IOCTL_KS_RESET_STATE: status = DispatchStream(irp); break;
    default: status = STATUS_INVALID_DEVICE_REQUEST; break;
    }
    if (status == STATUS_PENDING) return status;
    return Complete(irp, status);
}

// The one dispatch routine of every major function of a KS minidriver.
NTSTATUS DispatchIrp(PDEVICE_OBJECT deviceObject, PIRP irp)
{
    Device* device = DeviceOfFunctionalDeviceObject(deviceObject);
    if (!device) {
        irp->IoStatus.Information = 0;
        return Complete(irp, STATUS_INVALID_DEVICE_REQUEST);
    }
    PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
    switch (sp->MajorFunction) {
    case IRP_MJ_PNP: return DispatchPnp(device, irp);
    case IRP_MJ_POWER: return DispatchPower(device, irp);
    case IRP_MJ_CREATE: {
        irp->IoStatus.Information = 0;
        NTSTATUS status = device->surpriseRemoved ? STATUS_DEVICE_NOT_CONNECTED : DispatchCreate(device, irp);
        return Complete(irp, status);
    }
    case IRP_MJ_CLOSE: {
        irp->IoStatus.Information = 0;
        NTSTATUS status = DispatchClose(irp);
        return Complete(irp, status);
    }
    case IRP_MJ_CLEANUP:
        irp->IoStatus.Information = 0;
        return Complete(irp, STATUS_SUCCESS);
    case IRP_MJ_DEVICE_CONTROL:
        if (device->surpriseRemoved) {
            irp->IoStatus.Information = 0;
            return Complete(irp, STATUS_DEVICE_NOT_CONNECTED);
        }
        return DispatchDeviceControl(irp);
    default:
        irp->IoStatus.Information = 0;
        return Complete(irp, STATUS_INVALID_DEVICE_REQUEST);
    }
}

NTSTATUS AddDevice(PDRIVER_OBJECT driverObject, PDEVICE_OBJECT physicalDeviceObject)
{
    Driver* driver = DriverOf(driverObject);
    if (!driver) return STATUS_INVALID_PARAMETER;
    PDEVICE_OBJECT fdo = nullptr;
    NTSTATUS status = IoCreateDevice(driverObject, sizeof(FdoExtension), nullptr, FILE_DEVICE_KS, 0, FALSE, &fdo);
    if (!NT_SUCCESS(status)) return status;

    auto* device = new Device;
    device->driver = driver;
    device->ks.Descriptor = driver->descriptor;
    device->ks.Bag = &device->bag;
    device->ks.FunctionalDeviceObject = fdo;
    device->ks.PhysicalDeviceObject = physicalDeviceObject;
    device->ks.SystemPowerState = PowerSystemWorking;
    // Unpowered until the first D0 request after start.
    device->ks.DevicePowerState = PowerDeviceD3;
    *static_cast<FdoExtension*>(fdo->DeviceExtension) = {kFdoMagic, device};
    RegisterObject(device, Kind::Device);
    {
        std::lock_guard lock(TreeLock());
        driver->devices.push_back(device);
    }

    device->ks.NextDeviceObject = IoAttachDeviceToDeviceStack(fdo, physicalDeviceObject);
    if (!device->ks.NextDeviceObject) {
        DestroyDevice(device);
        return STATUS_NO_SUCH_DEVICE;
    }
    const KSDEVICE_DISPATCH* dispatch = driver->descriptor ? driver->descriptor->Dispatch : nullptr;
    if (dispatch && dispatch->Add) {
        status = dispatch->Add(&device->ks);
        if (!NT_SUCCESS(status)) {
            DestroyDevice(device);
            return status;
        }
    }
    fdo->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}

void Unload(PDRIVER_OBJECT driverObject)
{
    Driver* driver = DriverOf(driverObject);
    if (driver && !driver->devices.empty()) {
        kmsim::ReportViolation("ks", "driver unloaded with " + std::to_string(driver->devices.size()) +
                                         " KS device(s) not removed");
    }
    RemoveDriver(driverObject);
}

}  // namespace

Device* DeviceOfFunctionalDeviceObject(PDEVICE_OBJECT deviceObject)
{
    if (!deviceObject || !deviceObject->DeviceExtension || !DriverOf(deviceObject->DriverObject)) return nullptr;
    auto* extension = static_cast<FdoExtension*>(deviceObject->DeviceExtension);
    if (extension->magic != kFdoMagic) return nullptr;
    Kind kind;
    if (!KindOf(extension->device, &kind) || kind != Kind::Device) return nullptr;
    return extension->device;
}

NTSTATUS ForwardAndWait(PDEVICE_OBJECT lowerDevice, PIRP irp)
{
    IoCopyCurrentIrpStackLocationToNext(irp);
    return kmsim::CallDriverSynchronously(lowerDevice, irp);
}

}  // namespace kmsim::ks

NTSTATUS KsInitializeDriver(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPathName,
                            const KSDEVICE_DESCRIPTOR* Descriptor)
{
    UNREFERENCED_PARAMETER(RegistryPathName);
    if (!DriverObject || !DriverObject->DriverExtension) return STATUS_INVALID_PARAMETER;
    if (KeGetCurrentIrql() > PASSIVE_LEVEL) {
        kmsim::ReportViolation("irql", "KsInitializeDriver at IRQL " + std::to_string(KeGetCurrentIrql()));
    }
    kmsim::ks::AddDriver(DriverObject, Descriptor);
    for (UCHAR major : {IRP_MJ_CREATE, IRP_MJ_CLOSE, IRP_MJ_CLEANUP, IRP_MJ_DEVICE_CONTROL, IRP_MJ_PNP,
                        IRP_MJ_POWER}) {
        DriverObject->MajorFunction[major] = kmsim::ks::DispatchIrp;
    }
    DriverObject->DriverExtension->AddDevice = kmsim::ks::AddDevice;
    DriverObject->DriverUnload = kmsim::ks::Unload;
    return STATUS_SUCCESS;
}
