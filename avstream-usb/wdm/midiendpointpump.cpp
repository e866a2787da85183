// Output and input shared by the raw, framed and class variants.
#include "midiendpoint.h"

void MidiEndpoint::PumpOutput()
{
    if (DirectionBit() == 1) return;
    ExAcquireFastMutex(&m_pumpMutex);
    if (!WaitBufferFree(m_currentOut)) {
        ExReleaseFastMutex(&m_pumpMutex);
        return;
    }

    PUCHAR packet = m_buffers[m_currentOut];
    ULONG filled = 0;
    ULONG idle = m_portCount;
    ULONG i = 0;
    const KIRQL irql = AcquirePending();
    // Round-robin over the ports until each was found empty once in a row,
    // or the packet is full.
    while (idle > 0 && m_portCount > 0) {
        const UCHAR* data = nullptr;
        const ULONG length = m_ports[i]->PeekPending(&data);
        if (length > 0 && data) {
            idle = m_portCount;
            ULONG taken = length;
            const bool full = PackOutput(packet, m_packetSize, &filled, data, &taken, i);
            m_ports[i]->ConsumePending(taken);
            if (full || filled == m_packetSize) break;
        } else {
            --idle;
        }
        i = (i + 1) % m_portCount;
    }
    ReleasePending(irql);

    if (filled > 0) {
        SubmitTransfer(m_currentOut, filled, packet);
        m_currentOut = 1 - m_currentOut;
    }
    ExReleaseFastMutex(&m_pumpMutex);
}

void MidiEndpoint::UnpackInput(const UCHAR* packet, ULONG received)
{
    const UCHAR* payload = nullptr;
    ULONG length = 0;
    if (!GetInputPayload(packet, received, &payload, &length) || length == 0) return;
    MidiPort* port = m_ports[0];
    if (!port) return;
    for (ULONG k = 0; k < length; ++k) {
        MidiMessageView message = m_parser.Feed(payload[k]);
        if (message.kind != kMidiNothing && message.length > 0) port->AppendEvent(message.bytes, message.length);
    }
    port->DeliverEvents();
}
