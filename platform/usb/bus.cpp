#include "usb/bus.h"

#include "km/verifier.h"

#include <usbbusif.h>

namespace usbsim {

namespace {

constexpr ULONG kPdoMagic = kmsim::MakeTag('U', 'P', 'D', 'O');

struct PdoExtension {
    ULONG magic;
    BusDevice* device;
};

std::atomic<uintptr_t> g_nextHandle{0};

void CompleteUrb(PIRP irp, PURB urb, const UrbResult& result)
{
    if (urb) urb->UrbHeader.Status = result.usbdStatus;
    irp->IoStatus.Status = result.status;
    irp->IoStatus.Information = 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
}

NTSTATUS CompleteWith(PIRP irp, NTSTATUS status, ULONG_PTR information = 0)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

void CancelRoutine(PDEVICE_OBJECT pdo, PIRP irp)
{
    IoReleaseCancelSpinLock(irp->CancelIrql);
    BusDevice* device = BusDeviceFromPdo(pdo);
    if (device) device->HostBus().CancelPending(irp);
}

NTSTATUS DispatchInternalControl(PDEVICE_OBJECT pdo, PIRP irp)
{
    BusDevice* device = BusDeviceFromPdo(pdo);
    if (!device) return CompleteWith(irp, STATUS_NO_SUCH_DEVICE);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case IOCTL_INTERNAL_USB_SUBMIT_URB: {
        auto* urb = static_cast<PURB>(stack->Parameters.Others.Argument1);
        if (!urb) return CompleteWith(irp, STATUS_INVALID_PARAMETER);
        return device->HostBus().SubmitUrb(*device, irp, urb);
    }
    case IOCTL_INTERNAL_USB_GET_PORT_STATUS: {
        auto* portStatus = static_cast<PULONG>(stack->Parameters.Others.Argument1);
        if (!portStatus) return CompleteWith(irp, STATUS_INVALID_PARAMETER);
        *portStatus = device->Connected() ? USBD_PORT_ENABLED | USBD_PORT_CONNECTED : 0;
        return CompleteWith(irp, STATUS_SUCCESS);
    }
    case IOCTL_INTERNAL_USB_RESET_PORT:
    case IOCTL_INTERNAL_USB_CYCLE_PORT:
        return CompleteWith(irp, device->Connected() ? STATUS_SUCCESS : STATUS_DEVICE_NOT_CONNECTED);
    default:
        return CompleteWith(irp, STATUS_INVALID_DEVICE_REQUEST);
    }
}

NTSTATUS DispatchPnp(PDEVICE_OBJECT pdo, PIRP irp)
{
    BusDevice* device = BusDeviceFromPdo(pdo);
    if (!device) return CompleteWith(irp, STATUS_NO_SUCH_DEVICE);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    // A PDO leaves the status of requests it does not handle untouched.
    NTSTATUS status = irp->IoStatus.Status;
    switch (stack->MinorFunction) {
    case IRP_MN_QUERY_INTERFACE:
        if (stack->Parameters.QueryInterface.InterfaceType &&
            *stack->Parameters.QueryInterface.InterfaceType == USB_BUS_INTERFACE_USBDI_GUID)
            status = device->QueryInterface(stack);
        break;
    case IRP_MN_QUERY_CAPABILITIES: {
        PDEVICE_CAPABILITIES caps = stack->Parameters.DeviceCapabilities.Capabilities;
        if (caps) {
            caps->Removable = 1;
            caps->SurpriseRemovalOK = 1;
            caps->Address = device->Address();
            caps->UINumber = device->Address();
            status = STATUS_SUCCESS;
        }
        break;
    }
    case IRP_MN_START_DEVICE:
    case IRP_MN_QUERY_REMOVE_DEVICE:
    case IRP_MN_STOP_DEVICE:
    case IRP_MN_SURPRISE_REMOVAL:
    case IRP_MN_REMOVE_DEVICE:
        // The PDO itself goes when the bus removes the device.
        status = STATUS_SUCCESS;
        break;
    default:
        break;
    }
    return CompleteWith(irp, status, irp->IoStatus.Information);
}

NTSTATUS DispatchPower(PDEVICE_OBJECT, PIRP irp) { return CompleteWith(irp, STATUS_SUCCESS); }

NTSTATUS DispatchUnsupported(PDEVICE_OBJECT, PIRP irp)
{
    return CompleteWith(irp, STATUS_INVALID_DEVICE_REQUEST);
}

}  // namespace

PVOID NewUsbHandle()
{
    // Aligned, never null, never repeated.
    return reinterpret_cast<PVOID>((++g_nextHandle + 0x100) << 4);
}

BusDevice* BusDeviceFromPdo(PDEVICE_OBJECT pdo)
{
    if (!pdo || !pdo->DeviceExtension) return nullptr;
    auto* extension = static_cast<PdoExtension*>(pdo->DeviceExtension);
    return extension->magic == kPdoMagic ? extension->device : nullptr;
}

Bus::Bus()
{
    m_driver.Type = 4;  // IO_TYPE_DRIVER
    m_driver.Size = sizeof(DRIVER_OBJECT);
    m_driver.DriverExtension = &m_driverExtension;
    m_driverExtension.DriverObject = &m_driver;
    static WCHAR name[] = u"\\Driver\\usbhub";
    RtlInitUnicodeString(&m_driver.DriverName, name);
    for (auto& dispatch : m_driver.MajorFunction) dispatch = DispatchUnsupported;
    m_driver.MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = DispatchInternalControl;
    m_driver.MajorFunction[IRP_MJ_PNP] = DispatchPnp;
    m_driver.MajorFunction[IRP_MJ_POWER] = DispatchPower;
    m_worker = std::thread([this] { WorkerLoop(); });
}

Bus::~Bus()
{
    for (BusDevice* device : Devices()) {
        if (device->Pdo()) Remove(*device);
    }
    {
        std::lock_guard lock(m_lock);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_worker.join();
}

BusDevice& Bus::Plug(std::unique_ptr<VirtualDevice> virtualDevice)
{
    BusDevice* device;
    {
        std::lock_guard lock(m_lock);
        m_devices.push_back(std::make_unique<BusDevice>(*this, std::move(virtualDevice), m_nextAddress++));
        device = m_devices.back().get();
    }
    PDEVICE_OBJECT pdo = nullptr;
    const NTSTATUS status = IoCreateDevice(&m_driver, sizeof(PdoExtension), nullptr,
                                           FILE_DEVICE_USB, 0, FALSE, &pdo);
    if (!NT_SUCCESS(status) || !pdo) {
        // Out of pool (an injected fault, usually): the device never
        // enumerates; it has no PDO and nobody hears of it.
        device->MarkDisconnected();
        return *device;
    }
    auto* extension = static_cast<PdoExtension*>(pdo->DeviceExtension);
    extension->magic = kPdoMagic;
    extension->device = device;
    pdo->StackSize = 1;
    pdo->Flags &= ~DO_DEVICE_INITIALIZING;
    device->SetPdo(pdo);
    device->Device().Attached(device);

    DeviceCallback arrival;
    {
        std::lock_guard lock(m_lock);
        arrival = m_arrival;
    }
    if (arrival) arrival(*device);
    return *device;
}

void Bus::Unplug(BusDevice& device)
{
    if (!device.Connected()) return;
    device.MarkDisconnected();
    {
        std::lock_guard lock(m_lock);
        for (Pending& p : m_pending) {
            if (p.device != &device) continue;
            p.stage = Stage::Queued;
            p.serve = false;
            p.result = Failure(USBD_STATUS_DEVICE_GONE);
        }
    }
    m_wake.notify_all();
    DeviceCallback departure;
    {
        std::lock_guard lock(m_lock);
        departure = m_departure;
    }
    if (departure) departure(device);
}

void Bus::Remove(BusDevice& device)
{
    Unplug(device);
    Flush();
    if (PDEVICE_OBJECT pdo = device.Pdo()) {
        device.SetPdo(nullptr);
        static_cast<PdoExtension*>(pdo->DeviceExtension)->magic = 0;
        IoDeleteDevice(pdo);
    }
}

void Bus::SetArrivalHandler(DeviceCallback handler)
{
    std::lock_guard lock(m_lock);
    m_arrival = std::move(handler);
}

void Bus::SetDepartureHandler(DeviceCallback handler)
{
    std::lock_guard lock(m_lock);
    m_departure = std::move(handler);
}

void Bus::StepFrames(ULONG frames) { m_frame.fetch_add(frames); }

void Bus::SetCurrentFrame(ULONG frame) { m_frame.store(frame); }

void Bus::Flush()
{
    std::unique_lock lock(m_lock);
    m_idle.wait(lock, [this] {
        if (m_workerBusy) return false;
        for (const Pending& p : m_pending)
            if (p.stage == Stage::Queued) return false;
        return true;
    });
}

size_t Bus::PendingCount(const BusDevice& device) const
{
    std::lock_guard lock(m_lock);
    size_t count = 0;
    for (const Pending& p : m_pending) count += p.device == &device;
    return count;
}

std::vector<BusDevice*> Bus::Devices() const
{
    std::lock_guard lock(m_lock);
    std::vector<BusDevice*> devices;
    for (auto& d : m_devices) devices.push_back(d.get());
    return devices;
}

NTSTATUS Bus::SubmitUrb(BusDevice& device, PIRP irp, PURB urb)
{
    const BusDevice::Decision decision = device.Accept(*urb);
    switch (decision.disposition) {
    case BusDevice::Disposition::Complete:
        Finish(device, irp, urb, decision.result);
        return decision.result.status;
    case BusDevice::Disposition::Serve:
        if (device.Mode() == CompletionMode::Synchronous) {
            const UrbResult result = device.Serve(*urb);
            Finish(device, irp, urb, result);
            return result.status;
        }
        return MakePending({&device, irp, urb, Stage::Queued, true, {}, nullptr});
    case BusDevice::Disposition::FailAfterPending:
        return MakePending({&device, irp, urb, Stage::Queued, false, decision.result, nullptr});
    case BusDevice::Disposition::Hold: {
        USBD_PIPE_HANDLE pipe = nullptr;
        if (urb->UrbHeader.Function == URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER)
            pipe = urb->UrbBulkOrInterruptTransfer.PipeHandle;
        else if (urb->UrbHeader.Function == URB_FUNCTION_ISOCH_TRANSFER)
            pipe = urb->UrbIsochronousTransfer.PipeHandle;
        return MakePending({&device, irp, urb, Stage::Held, false, {}, pipe});
    }
    }
    return STATUS_INTERNAL_ERROR;
}

NTSTATUS Bus::MakePending(const Pending& pending)
{
    PIRP irp = pending.irp;
    pending.urb->UrbHeader.Status = USBD_STATUS_PENDING;
    IoMarkIrpPending(irp);
    {
        std::lock_guard lock(m_lock);
        m_pending.push_back(pending);
        IoSetCancelRoutine(irp, CancelRoutine);
        if (irp->Cancel && IoSetCancelRoutine(irp, nullptr)) {
            // Cancelled before the routine was in place: finish it here.
            m_pending.pop_back();
        } else {
            irp = nullptr;
        }
    }
    if (irp) {
        CompleteUrb(irp, pending.urb, Failure(USBD_STATUS_CANCELED));
    } else {
        m_wake.notify_all();
    }
    return STATUS_PENDING;
}

void Bus::RetryTransfers(BusDevice&) { m_wake.notify_all(); }

void Bus::CancelPending(PIRP irp)
{
    PURB urb = nullptr;
    {
        std::lock_guard lock(m_lock);
        for (auto it = m_pending.begin(); it != m_pending.end(); ++it) {
            if (it->irp != irp) continue;
            urb = it->urb;
            m_pending.erase(it);
            break;
        }
    }
    m_idle.notify_all();
    if (!urb) {
        // The worker took it off the list but lost the race for the cancel
        // routine, so it is ours to finish; the URB is the stack's argument.
        urb = static_cast<PURB>(IoGetCurrentIrpStackLocation(irp)->Parameters.Others.Argument1);
    }
    CompleteUrb(irp, urb, Failure(USBD_STATUS_CANCELED));
}

void Bus::Finish(BusDevice& device, PIRP irp, PURB urb, const UrbResult& result)
{
    if (result.abortedPipe) EndHeldTransfers(device, result.abortedPipe, Failure(USBD_STATUS_CANCELED));
    CompleteUrb(irp, urb, result);
}

void Bus::EndHeldTransfers(BusDevice& device, USBD_PIPE_HANDLE pipe, const UrbResult& result)
{
    // Finished here rather than by the worker, so that an abort returns only
    // after the pipe's transfers have completed (and an abort served by the
    // worker does not wait on itself).
    std::vector<Pending> ended;
    {
        std::lock_guard lock(m_lock);
        for (auto it = m_pending.begin(); it != m_pending.end();) {
            if (it->device == &device && it->stage == Stage::Held && it->pipe == pipe) {
                ended.push_back(*it);
                it = m_pending.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (const Pending& p : ended) {
        if (IoSetCancelRoutine(p.irp, nullptr)) CompleteUrb(p.irp, p.urb, result);
    }
}

void Bus::WorkerLoop()
{
    std::unique_lock lock(m_lock);
    for (;;) {
        auto it = m_pending.end();
        m_wake.wait(lock, [&] {
            for (it = m_pending.begin(); it != m_pending.end(); ++it)
                if (it->stage == Stage::Queued) return true;
            return m_stopping;
        });
        if (it == m_pending.end()) return;  // stopping with nothing queued
        const Pending work = *it;
        m_pending.erase(it);
        m_workerBusy = true;
        lock.unlock();

        // Whoever clears the cancel routine owns the IRP.
        if (IoSetCancelRoutine(work.irp, nullptr)) {
            const UrbResult result = work.serve ? work.device->Serve(*work.urb) : work.result;
            KIRQL old;
            KeRaiseIrql(DISPATCH_LEVEL, &old);
            Finish(*work.device, work.irp, work.urb, result);
            KeLowerIrql(old);
        }

        lock.lock();
        m_workerBusy = false;
        m_idle.notify_all();
    }
}

}  // namespace usbsim
