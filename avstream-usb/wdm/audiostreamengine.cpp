// The isochronous engine of a stream: two transfers in flight back to back,
// each completion sizing, serving and resubmitting the transfer.
#include "audiopin.h"
#include "audiostream.h"
#include "driverglobals.h"
#include "usbdevice.h"

#include <usbioctl.h>

namespace {
// The first transfer of a stream starts this far ahead of the current frame
// when no stream runs; later streams join the grid at least kMinLead ahead.
constexpr ULONG kStartLead = 10;
constexpr ULONG kMinLead = 5;
// Starts whose first frame the bus found gone, tried again from a new frame.
constexpr ULONG kStartAttempts = 4;
// How long a stopped stream waits for its transfers before cancelling them,
// in the relative 100-ns units of kernel waits: one second.
constexpr LONGLONG kDrainWait = -10'000'000;

// The two top bits of a USBD status: 01 = pending.
bool UrbPending(USBD_STATUS status)
{
    return (ULONG(status) >> 30) == 1;
}

// A transfer that failed only because every packet's frame had passed when
// it reached the bus (its thread was held up): lateness, which the next
// hand-down makes up for on the grid, not a failing device.
bool ReachedTheBusLate(const IsoTransfer& transfer)
{
    const auto& iso = transfer.urb->UrbIsochronousTransfer;
    if (iso.Hdr.Status != USBD_STATUS_ISOCH_REQUEST_FAILED) return false;
    for (ULONG k = 0; k < transfer.packets; ++k)
        if (iso.IsoPacket[k].Status != USBD_STATUS_ISO_NOT_ACCESSED_LATE) return false;
    return true;
}
}  // namespace

ULONG AudioStream::CurrentFrame() const
{
    return m_endpoint->Device()->GetCurrentFrame();
}

// The count and the idle event change together under a spin lock: a
// completion setting the event after a new hand-down cleared it would let a
// waiter free a transfer still in flight.
void AudioStream::AddOutstanding()
{
    KIRQL irql;
    KeAcquireSpinLock(&m_countLock, &irql);
    if (InterlockedIncrement(&m_outstanding) == 1) {
        KeClearEvent(&m_idleEvent);
        InterlockedIncrement(&ActiveStreamCount);
    }
    KeReleaseSpinLock(&m_countLock, irql);
}

void AudioStream::RemoveOutstanding()
{
    KIRQL irql;
    KeAcquireSpinLock(&m_countLock, &irql);
    if (InterlockedDecrement(&m_outstanding) == 0) {
        InterlockedDecrement(&ActiveStreamCount);
        KeSetEvent(&m_idleEvent, IO_NO_INCREMENT, FALSE);
    }
    KeReleaseSpinLock(&m_countLock, irql);
}

// The first grid frame at least kMinLead ahead of `frame`, published for
// every stream. A new grid starts only when no other stream runs or is
// starting; otherwise the stream joins the published one, and of two starts
// publishing at once the one that loses the compare-exchange joins the
// winner's. The caller counts itself in StartingStreamCount.
ULONG AudioStream::JoinFrameGrid(ULONG frame) const
{
    for (;;) {
        const LONG seen = ReadAcquire(&StreamFrameAnchor);
        ULONG anchor = ULONG(seen);
        if (ReadAcquire(&ActiveStreamCount) == 0 && ReadAcquire(&StartingStreamCount) == 1)
            anchor = frame + kStartLead;
        // Signed distance, so that the grid follows the frame counter across
        // its wrap; whole steps of the grid, however old the anchor.
        const LONG behind = LONG(frame + kMinLead - anchor);
        if (behind > 0) anchor += (ULONG(behind) + m_urbSize - 1) / m_urbSize * m_urbSize;
        if (InterlockedCompareExchange(&StreamFrameAnchor, LONG(anchor), seen) == seen) return anchor;
    }
}

NTSTATUS AudioStream::Start()
{
    if (m_bytesPerSecond == 0) return STATUS_DEVICE_NOT_READY;
    // Never run on transfers or a buffer that could not be allocated.
    if (!m_buffer || !m_transfers[0].irp || !m_transfers[1].irp) return STATUS_INSUFFICIENT_RESOURCES;
    // A stream that stopped itself may still be draining its last transfer.
    WaitForIdle();

    RtlZeroMemory(m_buffer, SIZE_T(2) * m_packetStride * m_urbSize);
    m_fracAccumulator = 0;
    // The first two render transfers carry silence, but sized from the rate
    // like every later one: a packet of the whole stride would exceed what
    // the endpoint may carry per frame.
    if (!IsCapture()) {
        SizeRenderPackets(m_transfers[0]);
        SizeRenderPackets(m_transfers[1]);
    }
    // Counted as starting until its transfers count it as active.
    InterlockedIncrement(&StartingStreamCount);
    NTSTATUS status = STATUS_UNSUCCESSFUL;
    for (ULONG attempt = 0; attempt < kStartAttempts; ++attempt) {
        const ULONG anchor = JoinFrameGrid(CurrentFrame());
        // Set before the hand-downs: a completion may come back at once.
        m_nextFrame = anchor + 2 * m_urbSize;
        WriteBooleanRelease(&m_running, TRUE);
        status = Submit(m_transfers[0], anchor);
        // A thread held up past the bus's scheduling window chose a frame
        // that is gone: choose again from now. The refused transfer is not
        // in flight, so its URB is ours to read.
        if (!NT_SUCCESS(status) && m_transfers[0].urb->UrbHeader.Status == USBD_STATUS_BAD_START_FRAME) continue;
        if (NT_SUCCESS(status)) status = Submit(m_transfers[1], anchor + m_urbSize);
        // Held up as long between the two hand-downs: the first is called
        // back (not handed down again), and both go again from now.
        if (!NT_SUCCESS(status) && m_transfers[1].urb->UrbHeader.Status == USBD_STATUS_BAD_START_FRAME) {
            WriteBooleanRelease(&m_running, FALSE);
            if (ReadAcquire(&m_transfers[0].counted)) IoCancelIrp(m_transfers[0].irp);
            WaitForIdle();
            continue;
        }
        break;
    }
    InterlockedDecrement(&StartingStreamCount);
    // The transfer that was handed down drains by itself.
    if (!NT_SUCCESS(status)) WriteBooleanRelease(&m_running, FALSE);
    return status;
}

NTSTATUS AudioStream::Submit(IsoTransfer& transfer, ULONG startFrame)
{
    auto& iso = transfer.urb->UrbIsochronousTransfer;
    if (transfer.counted || UrbPending(iso.Hdr.Status)) return STATUS_PENDING;

    iso.Hdr.Length = static_cast<USHORT>(UrbLength());
    iso.Hdr.Function = URB_FUNCTION_ISOCH_TRANSFER;
    iso.Hdr.Status = 0;
    iso.Hdr.UsbdDeviceHandle = nullptr;
    iso.Hdr.UsbdFlags = 0;
    iso.PipeHandle = transfer.pipeHandle;
    iso.TransferFlags = transfer.directionIn ? USBD_TRANSFER_DIRECTION_IN : 0;
    if (startFrame == 0) iso.TransferFlags |= USBD_START_ISO_TRANSFER_ASAP;
    iso.TransferBufferLength = transfer.length;
    iso.TransferBuffer = transfer.data;
    iso.TransferBufferMDL = nullptr;
    iso.UrbLink = nullptr;
    RtlZeroMemory(&iso.hca, sizeof(iso.hca));
    iso.StartFrame = startFrame;
    iso.NumberOfPackets = transfer.packets;
    iso.ErrorCount = 0;

    IoReuseIrp(transfer.irp, STATUS_NOT_SUPPORTED);
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(transfer.irp);
    next->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
    next->Parameters.DeviceIoControl.IoControlCode = IOCTL_INTERNAL_USB_SUBMIT_URB;
    next->Parameters.Others.Argument1 = transfer.urb;
    IoSetCompletionRoutine(transfer.irp, OnTransferComplete, &transfer, TRUE, TRUE, TRUE);

    transfer.counted = 1;
    AddOutstanding();
    NTSTATUS status = m_endpoint->CallLowerDriver(transfer.irp);
    // A hand-down that failed at once may or may not have run the completion
    // routine; the one of the two that finds the transfer counted uncounts it.
    if (!NT_SUCCESS(status) && InterlockedExchange(&transfer.counted, 0) == 1) RemoveOutstanding();
    return status;
}

NTSTATUS AudioStream::OnTransferComplete(PDEVICE_OBJECT, PIRP irp, PVOID context)
{
    auto* transfer = static_cast<IsoTransfer*>(context);
    transfer->owner->CompleteTransfer(*transfer, irp);
    // The IRP stays with the stream.
    return STATUS_MORE_PROCESSING_REQUIRED;
}

void AudioStream::CompleteTransfer(IsoTransfer& transfer, PIRP irp)
{
    // A hand-down already reported as failed has been uncounted; its
    // completion only drains.
    if (InterlockedExchange(&transfer.counted, 0) == 0) return;

    const NTSTATUS status = irp->IoStatus.Status;
    if (irp->Cancel || status == STATUS_CANCELLED || status == STATUS_DEVICE_NOT_CONNECTED ||
        (USBD_ERROR(transfer.urb->UrbHeader.Status) && !ReachedTheBusLate(transfer)))
        WriteBooleanRelease(&m_running, FALSE);

    // One look at the running flag decides the pass: once clients have been
    // served, what they handed over goes out even if Stop came meanwhile
    // (it waits for this transfer too, as it is handed down again before it
    // stops being counted).
    if (IsRunning()) {
        if (!transfer.directionIn) SizeRenderPackets(transfer);
        ServeClients(transfer);
        Resubmit(transfer);
    }
    RemoveOutstanding();
}

// Whole frames per packet from the nominal rate; the remainder carries over
// so that the long-term rate is exact.
void AudioStream::SizeRenderPackets(IsoTransfer& transfer)
{
    auto& iso = transfer.urb->UrbIsochronousTransfer;
    ULONG sum = 0;
    for (ULONG k = 0; k < transfer.packets; ++k) {
        ULONG t = m_fracAccumulator + m_bytesPerSecond;
        ULONG frames = t / (m_bytesPerFrame * 1000);
        // Never past the packet's slot, whatever the endpoint declared;
        // enumeration keeps such endpoints out, so this only drops frames.
        if (frames > m_packetStride / m_bytesPerFrame) {
            frames = m_packetStride / m_bytesPerFrame;
            t = frames * m_bytesPerFrame * 1000;
        }
        const ULONG bytes = frames * m_bytesPerFrame;
        m_fracAccumulator = t - bytes * 1000;
        iso.IsoPacket[k].Offset = sum;
        iso.IsoPacket[k].Length = bytes;
        sum += bytes;
    }
    transfer.length = sum;
    RtlZeroMemory(transfer.data, sum);
}

void AudioStream::ServeClients(IsoTransfer& transfer)
{
    KeAcquireSpinLockAtDpcLevel(&m_serviceLock);
    m_mixing = FALSE;
    for (ULONG i = 0; i < m_clientCount; ++i) {
        AudioPin* client = m_clients[i];
        if (!client) continue;
        m_clientOffset = 0;
        m_clientPacket = 0;
        m_currentTransfer = &transfer;
        client->AttemptProcessing();
        m_currentTransfer = nullptr;
        m_mixing = TRUE;
    }
    KeReleaseSpinLockFromDpcLevel(&m_serviceLock);
}

NTSTATUS AudioStream::Resubmit(IsoTransfer& transfer)
{
    const ULONG frame = CurrentFrame();
    // Fallen behind: restart one transfer length ahead.
    if (LONG(m_nextFrame - frame) <= 0) m_nextFrame = frame + m_urbSize;
    NTSTATUS status = Submit(transfer, m_nextFrame);
    if (!NT_SUCCESS(status)) WriteBooleanRelease(&m_running, FALSE);
    m_nextFrame += transfer.packets;
    return status;
}

NTSTATUS AudioStream::AttachClient(AudioPin* pin)
{
    PassiveLockGuard run(m_runLock);
    KIRQL irql;
    KeAcquireSpinLock(&m_serviceLock, &irql);
    ULONG slot = 0;
    while (slot < m_clientCount && m_clients[slot]) ++slot;
    if (slot == kMaxStreamClients) {
        KeReleaseSpinLock(&m_serviceLock, irql);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    m_clients[slot] = pin;
    if (slot == m_clientCount) ++m_clientCount;
    KeReleaseSpinLock(&m_serviceLock, irql);

    ++m_runCount;
    if (m_runCount > 1 || !ShouldRun()) return STATUS_SUCCESS;
    // A stream that cannot start would leave the client waiting for frames
    // that never move: the pin stays out of RUN instead.
    NTSTATUS status = Start();
    if (!NT_SUCCESS(status)) {
        KeAcquireSpinLock(&m_serviceLock, &irql);
        m_clients[slot] = nullptr;
        KeReleaseSpinLock(&m_serviceLock, irql);
        --m_runCount;
    }
    return status;
}

void AudioStream::DetachClient(AudioPin* pin)
{
    PassiveLockGuard run(m_runLock);
    bool found = false;
    KIRQL irql;
    // Once the slot is cleared under the lock, no service pass still uses
    // the pin.
    KeAcquireSpinLock(&m_serviceLock, &irql);
    for (ULONG i = 0; i < m_clientCount; ++i) {
        if (m_clients[i] == pin) {
            m_clients[i] = nullptr;
            found = true;
        }
    }
    KeReleaseSpinLock(&m_serviceLock, irql);

    if (found && --m_runCount == 0) Stop();
}

void AudioStream::Stop()
{
    WriteBooleanRelease(&m_running, FALSE);
    WaitForIdle();
}

// The idle event is set whenever nothing is outstanding. The completion
// that set it does so inside the count lock and may not have left it yet;
// once we have had the lock it has, and the stream may be freed.
void AudioStream::WaitForIdle()
{
    // Called only with the stream stopped. Transfers end within their
    // frames, carrying what clients were told was played; one the bus still
    // holds a second later is cancelled.
    LARGE_INTEGER timeout;
    timeout.QuadPart = kDrainWait;
    while (KeWaitForSingleObject(&m_idleEvent, Executive, KernelMode, FALSE, &timeout) == STATUS_TIMEOUT) {
        for (IsoTransfer& transfer : m_transfers)
            if (ReadAcquire(&transfer.counted)) IoCancelIrp(transfer.irp);
    }
    KIRQL irql;
    KeAcquireSpinLock(&m_countLock, &irql);
    KeReleaseSpinLock(&m_countLock, irql);
}

void AudioStream::Suspend()
{
    PassiveLockGuard run(m_runLock);
    m_suspended = TRUE;
    Stop();
}

// The one place that restarts a stream after power-down, whether it was
// stopped by the suspend or stopped itself while the device was down.
void AudioStream::Resume()
{
    PassiveLockGuard run(m_runLock);
    m_suspended = FALSE;
    if (!ShouldRun()) return;
    Stop();
    Start();
}
