#include "midiendpoint.h"

#include "usbdevice.h"

MidiEndpoint::MidiEndpoint(UsbEndpoint* endpoint) : m_endpoint(endpoint)
{
    KeInitializeEvent(&m_bufferFree[0], NotificationEvent, FALSE);
    KeInitializeEvent(&m_bufferFree[1], NotificationEvent, FALSE);
    KeInitializeEvent(&m_idleEvent, NotificationEvent, TRUE);
    ExInitializeFastMutex(&m_pumpMutex);
    KeInitializeSpinLock(&m_pendingLock);
    KeInitializeSpinLock(&m_countLock);
    m_packetSize = endpoint->Pipe().MaximumPacketSize;
}

bool MidiEndpoint::Initialize()
{
    // A pipe that cannot carry a byte is of no use.
    if (m_packetSize == 0) return false;
    const CCHAR stackSize = static_cast<CCHAR>(m_endpoint->LowerStackSize() + 1);
    for (ULONG i = 0; i < 2; ++i) {
        m_irps[i] = IoAllocateIrp(stackSize, FALSE);
        m_buffers[i] = static_cast<PUCHAR>(AllocateBuffer(m_packetSize));
        if (!m_irps[i] || !m_buffers[i]) return false;
    }
    return AddPort(0) != nullptr;
}

MidiEndpoint::~MidiEndpoint()
{
    StopEndpoint();
    for (ULONG i = 0; i < 2; ++i) {
        if (m_irps[i]) IoFreeIrp(m_irps[i]);
        FreeBuffer(m_buffers[i]);
    }
    DestroyPorts();
}

MidiPort* MidiEndpoint::AddPort(ULONG cable)
{
    if (m_portCount >= kMaxMidiPorts) return nullptr;
    auto* port = new MidiPort(this, cable);
    if (port) m_ports[m_portCount++] = port;
    return port;
}

void MidiEndpoint::DestroyPorts()
{
    while (m_portCount > 0) {
        --m_portCount;
        delete m_ports[m_portCount];
        m_ports[m_portCount] = nullptr;
    }
}

ULONG MidiEndpoint::DirectionBit() const
{
    return m_endpoint->DirectionBit();
}

void MidiEndpoint::StartEndpoint()
{
    m_endpoint->ResetPipe();
    KIRQL irql;
    KeAcquireSpinLock(&m_countLock, &irql);
    m_running = TRUE;
    KeReleaseSpinLock(&m_countLock, irql);
    if (DirectionBit() == 1) {
        // A read still in flight (a start without a stop) keeps its IRP.
        for (ULONG i = 0; i < 2; ++i)
            if (!ReadAcquire(&m_counted[i])) SubmitTransfer(i, 0, nullptr);
    } else {
        KeSetEvent(&m_bufferFree[0], IO_NO_INCREMENT, FALSE);
        KeSetEvent(&m_bufferFree[1], IO_NO_INCREMENT, FALSE);
    }
}

void MidiEndpoint::StopEndpoint()
{
    KIRQL irql;
    KeAcquireSpinLock(&m_countLock, &irql);
    m_running = FALSE;
    bool counted[2];
    for (ULONG i = 0; i < 2; ++i) counted[i] = ReadAcquire(&m_counted[i]) != 0;
    KeReleaseSpinLock(&m_countLock, irql);
    m_endpoint->AbortPipe();
    // A read repeated by its completion, or a packet sent by a pump that a
    // completion woke, may have been counted just before the stop and handed
    // down after the abort; the cancel reaches it either way.
    for (ULONG i = 0; i < 2; ++i)
        if (counted[i]) IoCancelIrp(m_irps[i]);
    KeWaitForSingleObject(&m_idleEvent, Executive, KernelMode, FALSE, nullptr);
    // The completion that uncounted the last transfer sets the idle event
    // inside the count lock and may not have left it yet; once we have had
    // the lock, it has, and the endpoint may be freed.
    KeAcquireSpinLock(&m_countLock, &irql);
    KeReleaseSpinLock(&m_countLock, irql);
    KeClearEvent(&m_bufferFree[0]);
    KeClearEvent(&m_bufferFree[1]);
}
