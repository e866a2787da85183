// Framed MIDI: a two-byte header carrying the payload length.
#include "midiendpointvariants.h"

namespace {
constexpr ULONG kFramedPayloadLimit = 12;
constexpr ULONG kFramedHeader = 2;
}

bool FramedMidiEndpoint::PackOutput(PUCHAR packet, ULONG capacity, ULONG* filled, const UCHAR* source, ULONG* taken,
                                    ULONG)
{
    // A packet that cannot hold the header and a byte takes nothing.
    if (capacity <= kFramedHeader) {
        *taken = 0;
        return true;
    }
    if (*filled == 0) {
        packet[0] = 0x00;
        packet[1] = 0;
        *filled = kFramedHeader;
    }
    ULONG k = *taken;
    if (k > kFramedPayloadLimit - packet[1]) k = kFramedPayloadLimit - packet[1];
    if (k > capacity - *filled) k = capacity - *filled;
    RtlCopyMemory(packet + *filled, source, k);
    *filled += k;
    packet[1] = UCHAR(packet[1] + k);
    *taken = k;
    return packet[1] == kFramedPayloadLimit || *filled == capacity;
}

bool FramedMidiEndpoint::GetInputPayload(const UCHAR* packet, ULONG received, const UCHAR** payload, ULONG* length)
{
    // Byte 0 is the payload length plus one; a length of 0, or one larger
    // than the packet holds, makes the packet unusable.
    if (received < kFramedHeader || packet[0] == 0) return false;
    const ULONG n = ULONG(packet[0]) - 1;
    if (n > received - kFramedHeader) return false;
    *payload = packet + kFramedHeader;
    *length = n;
    return n > 0;
}
