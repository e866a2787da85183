// The bulk or interrupt transfers of a MIDI endpoint: two reads kept in
// flight on an IN pipe, two packet buffers used alternately on an OUT pipe.
#include "midiendpoint.h"
#include "usbdevice.h"

#include <usbioctl.h>

namespace {
// One second in the relative 100-ns units of kernel waits.
constexpr LONGLONG kBufferWait = -10'000'000;
}

ULONG MidiEndpoint::CurrentFrame() const
{
    return m_endpoint->Device()->GetCurrentFrame();
}

// The count and the idle event change together, so that a completion cannot
// set the event after a new hand-down cleared it. The IRP is reused inside
// the lock too: a stop cancels only IRPs it finds counted there, never one
// being reset for its next hand-down.
bool MidiEndpoint::PrepareTransfer(ULONG index, ULONG length, PUCHAR buffer)
{
    KIRQL irql;
    KeAcquireSpinLock(&m_countLock, &irql);
    const bool running = m_running;
    if (running) {
        BuildTransfer(index, length, buffer);
        InterlockedExchange(&m_counted[index], 1);
        if (++m_outstanding == 1) KeClearEvent(&m_idleEvent);
    }
    KeReleaseSpinLock(&m_countLock, irql);
    return running;
}

void MidiEndpoint::RemoveOutstanding()
{
    KIRQL irql;
    KeAcquireSpinLock(&m_countLock, &irql);
    if (--m_outstanding == 0) KeSetEvent(&m_idleEvent, IO_NO_INCREMENT, FALSE);
    KeReleaseSpinLock(&m_countLock, irql);
}

bool MidiEndpoint::WaitBufferFree(ULONG index)
{
    LARGE_INTEGER timeout;
    timeout.QuadPart = kBufferWait;
    return KeWaitForSingleObject(&m_bufferFree[index], Executive, KernelMode, FALSE, &timeout) != STATUS_TIMEOUT;
}

void MidiEndpoint::BuildTransfer(ULONG index, ULONG length, PUCHAR buffer)
{
    const bool in = DirectionBit() == 1;
    _URB_BULK_OR_INTERRUPT_TRANSFER& urb = m_urbs[index];
    RtlZeroMemory(&urb, sizeof(urb));
    urb.Hdr.Length = sizeof(_URB_BULK_OR_INTERRUPT_TRANSFER);
    urb.Hdr.Function = URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER;
    urb.PipeHandle = m_endpoint->Pipe().PipeHandle;
    urb.TransferBufferLength = length ? length : m_packetSize;
    urb.TransferBuffer = buffer ? buffer : m_buffers[index];
    urb.TransferBufferMDL = nullptr;
    urb.UrbLink = nullptr;
    urb.TransferFlags = in ? USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK : 0;

    PIRP irp = m_irps[index];
    IoReuseIrp(irp, STATUS_NOT_SUPPORTED);
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
    next->Parameters.DeviceIoControl.IoControlCode = IOCTL_INTERNAL_USB_SUBMIT_URB;
    next->Parameters.Others.Argument1 = &urb;
    IoSetCompletionRoutine(irp, OnMidiTransferComplete, this, TRUE, TRUE, TRUE);
}

NTSTATUS MidiEndpoint::SubmitTransfer(ULONG index, ULONG length, PUCHAR buffer)
{
    KeClearEvent(&m_bufferFree[index]);
    // Counted before the hand-down: a transfer may complete before the
    // call returns, and its completion always uncounts it. A stopped
    // endpoint sends nothing; its buffer stays busy until the next start.
    if (!PrepareTransfer(index, length, buffer)) {
        m_fill[index] = 0;
        return STATUS_DEVICE_NOT_READY;
    }
    NTSTATUS status = m_endpoint->CallLowerDriver(m_irps[index]);
    if (status != STATUS_PENDING && InterlockedExchange(&m_counted[index], 0) == 1) {
        // Failed without reaching the completion routine.
        m_fill[index] = 0;
        KeSetEvent(&m_bufferFree[index], IO_NO_INCREMENT, FALSE);
        RemoveOutstanding();
    }
    return status;
}

NTSTATUS MidiEndpoint::OnMidiTransferComplete(PDEVICE_OBJECT, PIRP irp, PVOID context)
{
    static_cast<MidiEndpoint*>(context)->CompleteTransfer(irp);
    // The IRP stays with the endpoint.
    return STATUS_MORE_PROCESSING_REQUIRED;
}

void MidiEndpoint::CompleteTransfer(PIRP irp)
{
    const ULONG index = irp == m_irps[0] ? 0 : 1;
    if (InterlockedExchange(&m_counted[index], 0) == 0) return;

    const NTSTATUS status = irp->IoStatus.Status;
    const _URB_BULK_OR_INTERRUPT_TRANSFER& urb = m_urbs[index];
    // Only a transfer that ended cancelled keeps its bytes for the
    // running-status merge. One the device took while the cancel was on its
    // way completes with success despite the IRP's Cancel flag: its bytes
    // went out and must not be merged into the next packet again.
    const bool cancelled = status == STATUS_CANCELLED;
    const bool succeeded = !cancelled && NT_SUCCESS(status) && !USBD_ERROR(urb.Hdr.Status);
    if (!cancelled) m_fill[index] = 0;
    KeSetEvent(&m_bufferFree[index], IO_NO_INCREMENT, FALSE);

    // A failed read is not repeated: the pipe stays quiet until restarted.
    if (succeeded && DirectionBit() == 1) {
        const ULONG received = urb.TransferBufferLength < m_packetSize ? urb.TransferBufferLength : m_packetSize;
        UnpackInput(static_cast<const UCHAR*>(urb.TransferBuffer), received);
        SubmitTransfer(index, 0, nullptr);
    }
    RemoveOutstanding();
}
