// Each variant's wire format, as the endpoint's pump and read completion
// call it.
#include "midiendpointvariants.h"
#include "midiwireformat.h"

bool RawMidiEndpoint::PackOutput(PUCHAR packet, ULONG capacity, ULONG* filled, const UCHAR* source, ULONG* taken,
                                 ULONG)
{
    return PackRaw(packet, capacity, filled, source, taken);
}

bool RawMidiEndpoint::GetInputPayload(const UCHAR* packet, ULONG received, const UCHAR** payload, ULONG* length)
{
    return RawPayload(packet, received, payload, length);
}

bool FramedMidiEndpoint::PackOutput(PUCHAR packet, ULONG capacity, ULONG* filled, const UCHAR* source, ULONG* taken,
                                    ULONG)
{
    return PackFramed(packet, capacity, filled, source, taken);
}

bool FramedMidiEndpoint::GetInputPayload(const UCHAR* packet, ULONG received, const UCHAR** payload, ULONG* length)
{
    return FramedPayload(packet, received, payload, length);
}

// Running-status pipes build their packets in their own pump; the raw
// packer stands in the table.
bool RunningStatusMidiEndpoint::PackOutput(PUCHAR packet, ULONG capacity, ULONG* filled, const UCHAR* source,
                                           ULONG* taken, ULONG)
{
    return PackRaw(packet, capacity, filled, source, taken);
}

bool RunningStatusMidiEndpoint::GetInputPayload(const UCHAR* packet, ULONG received, const UCHAR** payload,
                                                ULONG* length)
{
    return RawPayload(packet, received, payload, length);
}

bool ClassMidiEndpoint::PackOutput(PUCHAR packet, ULONG capacity, ULONG* filled, const UCHAR* source, ULONG* taken,
                                   ULONG portIndex)
{
    if (portIndex >= m_portCount) {
        *taken = 0;
        return true;
    }
    const ULONG cable = m_ports[portIndex]->Cable() & 0x0F;
    return PackClassEvent(m_parsers[cable], cable, packet, capacity, filled, source, taken);
}

void ClassMidiEndpoint::UnpackInput(const UCHAR* packet, ULONG received)
{
    UnpackClassEvents(
        packet, received,
        [](void* context, ULONG cable, const UCHAR* bytes, ULONG size) {
            if (MidiPort* port = static_cast<ClassMidiEndpoint*>(context)->m_portsByCable[cable])
                port->AppendEvent(bytes, size);
        },
        this);
    for (ULONG i = 0; i < m_portCount; ++i) m_ports[i]->DeliverEvents();
}

// Class pipes unpack their own event packets.
bool ClassMidiEndpoint::GetInputPayload(const UCHAR*, ULONG, const UCHAR**, ULONG*)
{
    return false;
}
