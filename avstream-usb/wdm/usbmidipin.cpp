#include "usbmidipin.h"

#include "midiendpoint.h"
#include "usbaudiodevice.h"

namespace {

constexpr ULONG kEventHeader = sizeof(KSMUSICFORMAT);
constexpr UCHAR kEndOfExclusive = 0xF7;

UsbAudioDevice* DeviceOfPin(PKSPIN pin)
{
    PKSDEVICE device = KsGetDevice(pin);
    return device ? static_cast<UsbAudioDevice*>(device->Context) : nullptr;
}

void FreeMidiPin(PVOID context)
{
    delete static_cast<UsbMidiPin*>(context);
}

NTSTATUS Create(PKSPIN pin, PIRP)
{
    UsbAudioDevice* device = DeviceOfPin(pin);
    MidiPort* port = device ? device->PortForPin(pin->Id) : nullptr;
    if (!port) return STATUS_INSUFFICIENT_RESOURCES;
    auto* context = new UsbMidiPin(pin, port);
    if (!context) return STATUS_INSUFFICIENT_RESOURCES;
    // The bag owns the pin from here; a bag that refuses it would leak it.
    if (!NT_SUCCESS(KsAddItemToObjectBag(pin->Bag, context, FreeMidiPin))) {
        delete context;
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    pin->Context = context;
    port->AddListener(context);
    return STATUS_SUCCESS;
}

NTSTATUS Close(PKSPIN pin, PIRP)
{
    auto* context = static_cast<UsbMidiPin*>(pin->Context);
    return context ? context->Close() : STATUS_SUCCESS;
}

NTSTATUS Process(PKSPIN pin)
{
    auto* context = static_cast<UsbMidiPin*>(pin->Context);
    return context ? context->Process() : STATUS_PENDING;
}

NTSTATUS SetDeviceState(PKSPIN pin, KSSTATE to, KSSTATE)
{
    auto* context = static_cast<UsbMidiPin*>(pin->Context);
    return context ? context->SetDeviceState(to) : STATUS_SUCCESS;
}

// The last status byte below the real-time range in the bytes, or 0.
UCHAR LastStatus(const UCHAR* bytes, ULONG n)
{
    for (ULONG i = n; i > 0; --i)
        if (bytes[i - 1] >= 0x80 && bytes[i - 1] < 0xF8) return bytes[i - 1];
    return 0;
}

}  // namespace

const KSPIN_DISPATCH MidiPinDispatch = {
    .Create = Create,
    .Close = Close,
    .Process = Process,
    .Reset = nullptr,
    .SetDataFormat = nullptr,
    .SetDeviceState = SetDeviceState,
    .Connect = nullptr,
    .Disconnect = nullptr,
    .Clock = nullptr,
    .Allocator = nullptr,
};

UsbMidiPin::UsbMidiPin(PKSPIN pin, MidiPort* port) : m_pin(pin), m_port(port)
{
    InitializeListHead(&m_queue);
    KeInitializeSpinLock(&m_queueLock);
    ExInitializeNPagedLookasideList(&m_messagePool, nullptr, nullptr, 0, sizeof(MidiMessage), kMidiMessageTag, 0);
    ExInitializeFastMutex(&m_frameMutex);
}

UsbMidiPin::~UsbMidiPin()
{
    while (MidiMessage* message = TakeHead()) ExFreeToNPagedLookasideList(&m_messagePool, message);
    ExDeleteNPagedLookasideList(&m_messagePool);
    FreeBuffer(m_event);
}

NTSTATUS UsbMidiPin::Close()
{
    m_port->RemoveListener(this);
    if (m_sysexHeld) {
        // A SysEx cut short is ended on the wire, so that the cable's next
        // message is not taken for part of it.
        m_sysexHeld = FALSE;
        m_port->AcquireOutput(this);
        m_port->WriteOutput(&kEndOfExclusive, 1);
        m_port->ReleaseOutput(this, false);
    }
    return STATUS_SUCCESS;
}

NTSTATUS UsbMidiPin::SetDeviceState(KSSTATE to)
{
    if (to == KSSTATE_RUN) {
        m_port->StartListenerClock(this);
        InterlockedExchange(&m_leavingRun, 0);
        return STATUS_SUCCESS;
    }
    // Once this returns, Process touches no frame until the next RUN; a
    // write waiting for another pin's hold gives up.
    ExAcquireFastMutex(&m_frameMutex);
    InterlockedExchange(&m_leavingRun, 1);
    m_writing = nullptr;
    ExReleaseFastMutex(&m_frameMutex);
    m_port->WakeWaiters();
    return STATUS_SUCCESS;
}

NTSTATUS UsbMidiPin::Process()
{
    return m_pin->DataFlow == KSPIN_DATAFLOW_IN ? ProcessOut() : ProcessIn();
}

void UsbMidiPin::WriteEvent(const UCHAR* bytes, ULONG n)
{
    if (!m_sysexHeld) {
        // The cable stays ours until the SysEx ends.
        for (ULONG i = 0; i < n && !m_sysexHeld; ++i) m_sysexHeld = bytes[i] == 0xF0;
    }
    m_port->WriteOutput(bytes, n);
    if (m_sysexHeld) {
        const UCHAR status = LastStatus(bytes, n);
        if (status != 0 && status != 0xF0) m_sysexHeld = FALSE;
    }
    m_port->ReleaseOutput(this, m_sysexHeld);
}

bool UsbMidiPin::ReserveEventCopy(ULONG n)
{
    if (n <= m_eventCapacity) return true;
    FreeBuffer(m_event);
    m_event = static_cast<PUCHAR>(AllocateBuffer(n));
    m_eventCapacity = m_event ? n : 0;
    return m_event != nullptr;
}

bool UsbMidiPin::CopyLeadingEvent(ULONG* length)
{
    *length = 0;
    ExAcquireFastMutex(&m_frameMutex);
    PKSSTREAM_POINTER pointer = nullptr;
    for (;;) {
        if (InterlockedCompareExchange(&m_leavingRun, 0, 0) != 0) break;
        pointer = KsPinGetLeadingEdgeStreamPointer(m_pin, KSSTREAM_POINTER_STATE_LOCKED);
        if (!pointer) break;
        const ULONG remaining = pointer->Offset->Remaining;
        auto* frame = static_cast<const UCHAR*>(pointer->Offset->Data);
        ULONG n = 0;
        if (remaining >= kEventHeader) {
            n = reinterpret_cast<const KSMUSICFORMAT*>(frame)->ByteCount;
            if (n > remaining - kEventHeader) n = remaining - kEventHeader;
        }
        // Only the frame's first event is sent. One with nothing to send is
        // used up at once, and one that cannot be copied too, but its client
        // is told it was not sent; the next is looked at.
        const bool copied = n != 0 && ReserveEventCopy(n);
        if (!copied) {
            if (n != 0) KsStreamPointerSetStatusCode(pointer, STATUS_INSUFFICIENT_RESOURCES);
            KsStreamPointerAdvanceOffsetsAndUnlock(pointer, remaining, 0, FALSE);
            continue;
        }
        RtlCopyMemory(m_event, frame + kEventHeader, n);
        // All but the last byte is used: the frame stays queued until the
        // event is out, and a frame already being written is told apart
        // from a new one by what it has left.
        m_writing = pointer->StreamHeader;
        KsStreamPointerAdvanceOffsetsAndUnlock(pointer, remaining - 1, 0, FALSE);
        *length = n;
        break;
    }
    ExReleaseFastMutex(&m_frameMutex);
    return *length > 0;
}

void UsbMidiPin::CompleteWrittenFrame()
{
    ExAcquireFastMutex(&m_frameMutex);
    if (m_writing && InterlockedCompareExchange(&m_leavingRun, 0, 0) == 0) {
        if (PKSSTREAM_POINTER pointer = KsPinGetLeadingEdgeStreamPointer(m_pin, KSSTREAM_POINTER_STATE_LOCKED)) {
            const bool ours = pointer->StreamHeader == m_writing && pointer->Offset->Remaining == 1;
            if (ours) {
                KsStreamPointerAdvanceOffsetsAndUnlock(pointer, 1, 0, FALSE);
            } else {
                KsStreamPointerUnlock(pointer, FALSE);
            }
        }
    }
    m_writing = nullptr;
    ExReleaseFastMutex(&m_frameMutex);
}

NTSTATUS UsbMidiPin::ProcessOut()
{
    for (;;) {
        // Waiting for another pin's SysEx to end happens with no frame
        // locked; a pin leaving RUN stops waiting.
        if (!m_port->AcquireOutput(this, &m_leavingRun)) break;
        ULONG n = 0;
        if (!CopyLeadingEvent(&n)) {
            m_port->ReleaseOutput(this, m_sysexHeld);
            break;
        }
        WriteEvent(m_event, n);
        CompleteWrittenFrame();
    }
    return STATUS_PENDING;
}

MidiMessage* UsbMidiPin::TakeHead()
{
    KIRQL irql;
    KeAcquireSpinLock(&m_queueLock, &irql);
    MidiMessage* message = nullptr;
    if (!IsListEmpty(&m_queue)) message = CONTAINING_RECORD(RemoveHeadList(&m_queue), MidiMessage, link);
    KeReleaseSpinLock(&m_queueLock, irql);
    return message;
}

NTSTATUS UsbMidiPin::ProcessIn()
{
    KIRQL irql;
    KeAcquireSpinLock(&m_queueLock, &irql);
    const bool empty = IsListEmpty(&m_queue);
    KeReleaseSpinLock(&m_queueLock, irql);
    if (empty) return STATUS_PENDING;

    PKSSTREAM_POINTER pointer = KsPinGetLeadingEdgeStreamPointer(m_pin, KSSTREAM_POINTER_STATE_LOCKED);
    if (pointer) {
        const ULONG remaining = pointer->Offset->Remaining;
        if (remaining < kEventHeader) {
            // No room for an event header: complete the frame empty and keep
            // the message for the next one.
            KsStreamPointerAdvanceOffsetsAndUnlock(pointer, 0, 0, TRUE);
        } else if (MidiMessage* message = TakeHead()) {
            const ULONG avail = message->size - message->consumed;
            const ULONG room = remaining - kEventHeader;
            const ULONG n = avail < room ? avail : room;
            auto* frame = static_cast<PUCHAR>(pointer->Offset->Data);
            auto* event = reinterpret_cast<PKSMUSICFORMAT>(frame);
            event->TimeDeltaMs = message->time;
            event->ByteCount = n;
            RtlCopyMemory(frame + kEventHeader, message->data + message->consumed, n);
            if (n == avail) {
                ExFreeToNPagedLookasideList(&m_messagePool, message);
            } else {
                // The rest goes into the next frame with the same time.
                message->consumed += n;
                KeAcquireSpinLock(&m_queueLock, &irql);
                InsertHeadList(&m_queue, &message->link);
                KeReleaseSpinLock(&m_queueLock, irql);
            }
            ULONG used = (kEventHeader + n + 3) & ~3UL;
            if (used > remaining) used = remaining;
            KsStreamPointerAdvanceOffsetsAndUnlock(pointer, 0, used, TRUE);
        } else {
            KsStreamPointerUnlock(pointer, FALSE);
        }
    }

    KeAcquireSpinLock(&m_queueLock, &irql);
    const bool more = !IsListEmpty(&m_queue);
    KeReleaseSpinLock(&m_queueLock, irql);
    return more ? STATUS_SUCCESS : STATUS_PENDING;
}

void UsbMidiPin::EnqueueMidiMessages(const MidiEvent* events, ULONG count, ULONG time)
{
    for (ULONG i = 0; i < count; ++i) EnqueueMidiMessage(events[i], time);
    KsPinAttemptProcessing(m_pin, TRUE);
}

NTSTATUS UsbMidiPin::EnqueueMidiMessage(const MidiEvent& event, ULONG time)
{
    if (event.size > kMidiMsgMaxData) {
        DbgPrint("UsbMidiPin::EnqueueMidiMessage() : message size (%u) > kMidiMsgMaxData\n", unsigned(event.size));
        return STATUS_DATA_OVERRUN;
    }
    auto* message = static_cast<MidiMessage*>(ExAllocateFromNPagedLookasideList(&m_messagePool));
    if (!message) return STATUS_INSUFFICIENT_RESOURCES;
    RtlZeroMemory(message, sizeof(*message));
    RtlCopyMemory(message->data, event.data, event.size);
    message->time = time - m_startFrame;
    message->size = event.size;

    KIRQL irql;
    KeAcquireSpinLock(&m_queueLock, &irql);
    InsertTailList(&m_queue, &message->link);
    KeReleaseSpinLock(&m_queueLock, irql);
    return STATUS_SUCCESS;
}
