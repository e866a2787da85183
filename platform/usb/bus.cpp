#include "usb/bus.h"

#include "km/verifier.h"
#include "usb/bulktransfer.h"
#include "usb/framepacer.h"

#include <usbbusif.h>

#include <algorithm>

namespace usbsim {

namespace {

constexpr ULONG kPdoMagic = kmsim::MakeTag('U', 'P', 'D', 'O');

struct PdoExtension {
    ULONG magic;
    BusDevice* device;
};

std::atomic<uintptr_t> g_nextHandle{0};

// Reads one IN pipe may finish per frame (19 packets of 64 bytes is what a
// full-speed frame carries), so a device that always has data and a driver
// that always reads again cannot keep the worker in one frame forever.
// Writes are not limited: a driver waiting for its write buffers would
// otherwise depend on the clock being stepped.
constexpr ULONG kReadsPerFrame = 19;

bool IsTransfer(USHORT function)
{
    return function == URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER ||
           function == URB_FUNCTION_ISOCH_TRANSFER;
}

USBD_PIPE_HANDLE TransferPipe(const URB& urb)
{
    return urb.UrbHeader.Function == URB_FUNCTION_ISOCH_TRANSFER
               ? urb.UrbIsochronousTransfer.PipeHandle
               : urb.UrbBulkOrInterruptTransfer.PipeHandle;
}

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

// Puts the bus's cancel routine in place. False when the IRP was cancelled
// before: the routine is taken back and the caller still owns the IRP.
// IoCancelIrp sets Cancel under the cancel spin lock, so it is read under
// it too.
bool ArmCancelRoutine(PIRP irp)
{
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    IoSetCancelRoutine(irp, CancelRoutine);
    const bool cancelled = irp->Cancel;
    if (cancelled) IoSetCancelRoutine(irp, nullptr);
    IoReleaseCancelSpinLock(irql);
    return !cancelled;
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

Bus::Bus() : m_driver(u"\\Driver\\usbhub", DispatchUnsupported)
{
    PDRIVER_OBJECT driver = m_driver.Object();
    driver->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = DispatchInternalControl;
    driver->MajorFunction[IRP_MJ_PNP] = DispatchPnp;
    driver->MajorFunction[IRP_MJ_POWER] = DispatchPower;
    m_worker = std::thread([this] { WorkerLoop(); });
}

Bus::~Bus()
{
    StopPacing();
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
    const NTSTATUS status = IoCreateDevice(m_driver.Object(), sizeof(PdoExtension), nullptr,
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

void Bus::StepFrames(ULONG frames)
{
    std::unique_lock lock(m_lock);
    m_framesToRun += frames;
    m_wake.notify_all();
    if (std::this_thread::get_id() == m_workerId) return;  // waiting here would wait on itself
    m_idle.wait(lock, [this] { return !m_workerBusy && !WorkerHasWork(); });
}

void Bus::SetCurrentFrame(ULONG frame)
{
    std::lock_guard lock(m_lock);
    m_frame.store(frame);
    m_sealedFrame = frame;
}

void Bus::StartPacing(double speed)
{
    StopPacing();
    auto pacer = std::make_unique<FramePacer>([this] { StepFrames(1); }, speed);
    std::lock_guard lock(m_pacerLock);
    m_pacer = std::move(pacer);
}

void Bus::StopPacing()
{
    std::unique_ptr<FramePacer> pacer;
    {
        std::lock_guard lock(m_pacerLock);
        pacer = std::move(m_pacer);
    }
    pacer.reset();  // joins outside the lock
}

bool Bus::Pacing() const
{
    std::lock_guard lock(m_pacerLock);
    return m_pacer != nullptr;
}

void Bus::Flush()
{
    std::unique_lock lock(m_lock);
    if (std::this_thread::get_id() == m_workerId) return;
    m_idle.wait(lock, [this] { return !m_workerBusy && !WorkerHasWork(); });
}

bool Bus::WorkerHasWork() const
{
    if (m_framesToRun || !m_woken.empty()) return true;
    for (const Pending& p : m_pending)
        if (p.stage == Stage::Queued && !p.cancelling) return true;
    return false;
}

TransferCounts Bus::Transfers(const BusDevice& device, UCHAR endpointAddress) const
{
    std::lock_guard lock(m_lock);
    TransferCounts counts;
    if (auto it = m_counts.find({&device, endpointAddress}); it != m_counts.end()) counts = it->second;
    counts.pending = 0;
    for (const Pending& p : m_pending)
        counts.pending += p.device == &device && p.endpoint.handle && p.endpoint.address == endpointAddress;
    return counts;
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
    // A transfer that passed the checks names an open pipe.
    PipeEndpoint endpoint;
    if (IsTransfer(urb->UrbHeader.Function) && decision.disposition != BusDevice::Disposition::Complete) {
        if (std::optional<PipeEndpoint> e = device.Endpoint(TransferPipe(*urb))) {
            endpoint = *e;
            std::lock_guard lock(m_lock);
            ++m_counts[{&device, endpoint.address}].submitted;
        }
    }
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
    case BusDevice::Disposition::FailAfterPending: {
        Pending pending{.device = &device, .irp = irp, .urb = urb, .stage = Stage::Queued,
                        .result = decision.result, .endpoint = endpoint};
        pending.pipe = endpoint.handle;
        return MakePending(pending);
    }
    case BusDevice::Disposition::Hold:
        return MakePending({.device = &device, .irp = irp, .urb = urb, .stage = Stage::Held,
                            .pipe = endpoint.handle, .endpoint = endpoint});
    case BusDevice::Disposition::Transfer:
        return SubmitTransfer(device, irp, urb, endpoint);
    }
    return STATUS_INTERNAL_ERROR;
}

NTSTATUS Bus::SubmitTransfer(BusDevice& device, PIRP irp, PURB urb, const PipeEndpoint& endpoint)
{
    Pending pending{.device = &device, .irp = irp, .urb = urb, .stage = Stage::Transfer,
                    .pipe = endpoint.handle, .endpoint = endpoint};
    if (!endpoint.handle) {
        // Reselected between the check and here.
        const UrbResult refusal = Failure(USBD_STATUS_INVALID_PIPE_HANDLE);
        Finish(device, irp, urb, refusal);
        return refusal.status;
    }
    if (urb->UrbHeader.Function != URB_FUNCTION_ISOCH_TRANSFER) {
        if (std::optional<UrbResult> refusal = CheckBulkTransfer(urb->UrbBulkOrInterruptTransfer, endpoint)) {
            {
                std::lock_guard lock(m_lock);
                CountCompletion(pending);
            }
            Finish(device, irp, urb, *refusal);
            return refusal->status;
        }
        return MakePending(pending);
    }
    pending.isochronous = true;
    return MakePending(pending, [this](Pending& p) -> std::optional<UrbResult> {
        std::optional<ULONG> nextFree;
        if (auto it = m_nextFree.find(p.pipe); it != m_nextFree.end()) nextFree = it->second;
        if (std::optional<UrbResult> refusal =
                ScheduleIsochronous(p.urb->UrbIsochronousTransfer, p.endpoint, m_frame.load(),
                                    m_sealedFrame, nextFree, &p.schedule))
            return refusal;
        m_nextFree[p.pipe] = p.schedule.startFrame + p.schedule.packets;
        // Every frame already passed: nothing to wait for.
        if (LONG(p.schedule.LastFrame() - m_sealedFrame) <= 0) {
            p.stage = Stage::Queued;
            p.result = IsochronousOutcome(p.urb->UrbIsochronousTransfer);
        }
        return std::nullopt;
    });
}

NTSTATUS Bus::MakePending(Pending pending, const Admission& admit)
{
    PIRP irp = pending.irp;
    std::optional<UrbResult> refusal;
    bool markedPending = false;  // cancelled after IoMarkIrpPending
    {
        std::lock_guard lock(m_lock);
        // Admission and joining the list are one step, so the worker never
        // seals a frame between a transfer's schedule and its arrival. A
        // device unplugged since it accepted the request is looked at here,
        // under the lock of the unplug's sweep: a request either joins the
        // list before the sweep or is refused, never left behind it.
        if (!pending.device->Connected()) {
            refusal = Failure(USBD_STATUS_DEVICE_GONE);
        } else if (admit) {
            refusal = admit(pending);
        }
        if (!refusal) {
            pending.urb->UrbHeader.Status = USBD_STATUS_PENDING;
            IoMarkIrpPending(irp);
            markedPending = true;
            m_pending.push_back(pending);
            if (!ArmCancelRoutine(irp)) {
                // Cancelled before the routine was in place: finish it here.
                CountCompletion(m_pending.back());
                m_pending.pop_back();
                refusal = Failure(USBD_STATUS_CANCELED);
            } else {
                if (pending.stage == Stage::Transfer && !pending.isochronous)
                    m_woken.insert(pending.device);
                irp = nullptr;
            }
        } else {
            CountCompletion(pending);
        }
    }
    if (!irp) {
        m_wake.notify_all();
        return STATUS_PENDING;
    }
    CompleteUrb(irp, pending.urb, *refusal);
    return markedPending ? STATUS_PENDING : refusal->status;
}

bool Bus::Claim(Pending& pending)
{
    if (pending.cancelling) return false;
    if (IoSetCancelRoutine(pending.irp, nullptr)) return true;
    pending.cancelling = true;
    return false;
}

void Bus::RetryTransfers(BusDevice& device)
{
    {
        std::lock_guard lock(m_lock);
        m_woken.insert(&device);
    }
    m_wake.notify_all();
}

void Bus::CancelPending(PIRP irp)
{
    // Wait out a packet in progress: its buffer is the driver's again once
    // the IRP completes.
    std::lock_guard transfers(m_transferLock);
    PURB urb = nullptr;
    {
        std::lock_guard lock(m_lock);
        for (auto it = m_pending.begin(); it != m_pending.end(); ++it) {
            if (it->irp != irp) continue;
            urb = it->urb;
            CountCompletion(*it);
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
    if (result.abortedPipe) EndPipeTransfers(device, result.abortedPipe, Failure(USBD_STATUS_CANCELED));
    for (USBD_PIPE_HANDLE pipe : result.closedPipes)
        EndPipeTransfers(device, pipe, Failure(USBD_STATUS_CANCELED));
    CompleteUrb(irp, urb, result);
}

void Bus::CountCompletion(const Pending& pending)
{
    if (pending.endpoint.handle) ++m_counts[{pending.device, pending.endpoint.address}].completed;
}


void Bus::EndPipeTransfers(BusDevice& device, USBD_PIPE_HANDLE pipe, const UrbResult& result)
{
    // Finished here rather than by the worker, so that an abort returns only
    // after the pipe's transfers have completed (and an abort served by the
    // worker does not wait on itself).
    std::vector<Pending> ended;
    {
        std::lock_guard transfers(m_transferLock);
        std::lock_guard lock(m_lock);
        for (auto it = m_pending.begin(); it != m_pending.end();) {
            if (it->device == &device && it->pipe == pipe &&
                (it->stage == Stage::Held || it->stage == Stage::Transfer) && Claim(*it)) {
                CountCompletion(*it);
                ended.push_back(*it);
                it = m_pending.erase(it);
            } else {
                ++it;
            }
        }
        m_nextFree.erase(pipe);
    }
    m_idle.notify_all();
    for (const Pending& p : ended) CompleteUrb(p.irp, p.urb, result);
}

void Bus::CompleteEnded(std::vector<std::pair<Pending, UrbResult>>& ended)
{
    if (ended.empty()) return;
    KIRQL old;
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    for (const auto& [pending, result] : ended) CompleteUrb(pending.irp, pending.urb, result);
    KeLowerIrql(old);
    ended.clear();
}

void Bus::WorkerLoop()
{
    std::unique_lock lock(m_lock);
    m_workerId = std::this_thread::get_id();
    for (;;) {
        m_wake.wait(lock, [&] { return WorkerHasWork() || m_stopping; });
        m_workerBusy = true;
        auto queued = std::find_if(m_pending.begin(), m_pending.end(),
                                   [](const Pending& p) { return p.stage == Stage::Queued && !p.cancelling; });
        // Wake-ups and new transfers go before the next frame: what a device
        // has when the clock is stepped belongs to the frame before.
        if (queued != m_pending.end()) {
            RunQueued(lock, queued);
        } else if (!m_woken.empty()) {
            const std::set<BusDevice*> devices = std::move(m_woken);
            m_woken.clear();
            OfferTransfers(lock, &devices);
        } else if (m_framesToRun) {
            RunFrame(lock);
        } else {
            m_workerBusy = false;
            return;  // stopping with nothing to do
        }
        m_workerBusy = false;
        m_idle.notify_all();
    }
}

void Bus::RunQueued(std::unique_lock<std::mutex>& lock, PendingList::iterator it)
{
    // Whoever clears the cancel routine owns the IRP.
    if (!Claim(*it)) return;
    const Pending work = *it;
    CountCompletion(work);
    m_pending.erase(it);
    lock.unlock();
    const UrbResult result = work.serve ? work.device->Serve(*work.urb) : work.result;
    KIRQL old;
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    Finish(*work.device, work.irp, work.urb, result);
    KeLowerIrql(old);
    lock.lock();
}

void Bus::RunFrame(std::unique_lock<std::mutex>& lock)
{
    lock.unlock();
    std::unique_lock transfers(m_transferLock);
    lock.lock();
    const ULONG frame = m_frame.load() + 1;
    --m_framesToRun;
    m_sealedFrame = frame;  // from now on a transfer handed down misses this frame
    m_finishedThisFrame.clear();
    // Entries leave the list only under m_transferLock, which this thread
    // holds, so the pointers stay good while m_lock is dropped.
    std::vector<Pending*> due;
    for (Pending& p : m_pending)
        if (p.stage == Stage::Transfer && p.isochronous && !p.cancelling &&
            p.nextPacket < p.schedule.packets &&
            LONG(frame - (p.schedule.startFrame + p.nextPacket)) >= 0)
            due.push_back(&p);
    lock.unlock();

    for (Pending* p : due) {
        auto& urb = p->urb->UrbIsochronousTransfer;
        const bool connected = p->device->Connected();
        for (; p->nextPacket < p->schedule.packets; ++p->nextPacket) {
            const ULONG k = p->nextPacket;
            const ULONG packetFrame = p->schedule.startFrame + k;
            if (LONG(packetFrame - frame) > 0) break;
            if (packetFrame == frame && connected)
                RunIsochronousPacket(p->device->Device(), urb, p->endpoint, k, frame);
            else
                MissIsochronousPacket(urb, p->endpoint, k);
        }
    }
    m_frame.store(frame);

    std::vector<std::pair<Pending, UrbResult>> ended;
    lock.lock();
    for (auto it = m_pending.begin(); it != m_pending.end();) {
        if (it->stage == Stage::Transfer && it->isochronous &&
            LONG(it->schedule.LastFrame() - frame) <= 0 && Claim(*it)) {
            auto& urb = it->urb->UrbIsochronousTransfer;
            // Packets of frames that were skipped (the clock was set) never ran.
            for (; it->nextPacket < it->schedule.packets; ++it->nextPacket)
                MissIsochronousPacket(urb, it->endpoint, it->nextPacket);
            CountCompletion(*it);
            ended.emplace_back(*it, IsochronousOutcome(urb));
            it = m_pending.erase(it);
        } else {
            ++it;
        }
    }
    lock.unlock();
    transfers.unlock();
    CompleteEnded(ended);
    lock.lock();
    OfferTransfers(lock, nullptr);
}

void Bus::OfferTransfers(std::unique_lock<std::mutex>& lock, const std::set<BusDevice*>* devices)
{
    lock.unlock();
    std::unique_lock transfers(m_transferLock);
    lock.lock();
    std::vector<std::pair<Pending, UrbResult>> ended;
    std::set<USBD_PIPE_HANDLE> blocked;  // pipes whose oldest transfer stays pending
    for (auto it = m_pending.begin(); it != m_pending.end();) {
        Pending& p = *it;
        if (p.stage != Stage::Transfer || p.isochronous || p.cancelling || blocked.count(p.pipe) ||
            (devices && !devices->count(p.device))) {
            ++it;
            continue;
        }
        if ((p.endpoint.In() && m_finishedThisFrame[p.pipe] >= kReadsPerFrame) || !p.device->Connected()) {
            blocked.insert(p.pipe);
            ++it;
            continue;
        }
        // The IRP is taken from its cancel routine for the attempt, so data
        // the device hands over never goes to a transfer being cancelled.
        if (!Claim(p)) {
            ++it;
            continue;
        }
        // The device runs without m_lock (it may call Wake); the entry
        // stays because only holders of m_transferLock remove transfers.
        lock.unlock();
        const std::optional<UrbResult> result = AttemptBulkTransfer(
            p.device->Device(), p.urb->UrbBulkOrInterruptTransfer, p.endpoint, p.received);
        lock.lock();
        if (result) {
            ++m_finishedThisFrame[p.pipe];
            ended.emplace_back(p, *result);
        } else {
            // Still waiting: hand it back to its cancel routine, unless it
            // was cancelled meanwhile.
            blocked.insert(p.pipe);
            if (ArmCancelRoutine(p.irp)) {
                ++it;
                continue;
            }
            ended.emplace_back(p, Failure(USBD_STATUS_CANCELED));
        }
        CountCompletion(p);
        it = m_pending.erase(it);
    }
    lock.unlock();
    transfers.unlock();
    CompleteEnded(ended);
    lock.lock();
}

}  // namespace usbsim
