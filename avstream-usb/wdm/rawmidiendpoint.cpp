// Raw MIDI bytes: no framing in either direction.
#include "midiendpointvariants.h"

namespace {
// The device takes at most this many bytes per packet.
constexpr ULONG kRawPacketLimit = 8;
}

bool RawMidiEndpoint::PackOutput(PUCHAR packet, ULONG capacity, ULONG* filled, const UCHAR* source, ULONG* taken,
                                 ULONG)
{
    return PackRaw(packet, capacity, filled, source, taken);
}

bool RawMidiEndpoint::GetInputPayload(const UCHAR* packet, ULONG received, const UCHAR** payload, ULONG* length)
{
    return RawPayload(packet, received, payload, length);
}

bool PackRaw(PUCHAR packet, ULONG capacity, ULONG* filled, const UCHAR* source, ULONG* taken)
{
    const ULONG cap = capacity < kRawPacketLimit ? capacity : kRawPacketLimit;
    const ULONG room = *filled < cap ? cap - *filled : 0;
    const ULONG k = room < *taken ? room : *taken;
    RtlCopyMemory(packet + *filled, source, k);
    *filled += k;
    *taken = k;
    return *filled >= cap;
}

bool RawPayload(const UCHAR* packet, ULONG received, const UCHAR** payload, ULONG* length)
{
    *payload = packet;
    *length = received;
    return received > 0;
}
