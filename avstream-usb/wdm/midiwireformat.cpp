#include "midiwireformat.h"

namespace {

// The device takes at most this many raw bytes per packet.
constexpr ULONG kRawPacketLimit = 8;
constexpr ULONG kFramedPayloadLimit = 12;
constexpr ULONG kFramedHeader = 2;
constexpr ULONG kEventPacketBytes = 4;

// Bytes each code index number carries.
constexpr UCHAR kCinLength[16] = {0, 0, 2, 3, 3, 1, 2, 3, 3, 3, 3, 3, 2, 2, 3, 1};

UCHAR CodeIndex(const MidiMessageView& message)
{
    switch (message.kind) {
    case kMidiChannel: return UCHAR(message.bytes[0] >> 4);
    case kMidiSysExChunk: return 0x4;
    case kMidiSystemCommon: return message.length == 1 ? 0x5 : UCHAR(message.length);
    case kMidiSysExEnd: return UCHAR(0x4 + message.length);
    case kMidiRealTime: return 0xF;
    default: return 0;
    }
}

}  // namespace

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

bool PackFramed(PUCHAR packet, ULONG capacity, ULONG* filled, const UCHAR* source, ULONG* taken)
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

bool FramedPayload(const UCHAR* packet, ULONG received, const UCHAR** payload, ULONG* length)
{
    // Byte 0 is the payload length plus one.
    if (received < kFramedHeader || packet[0] == 0) return false;
    const ULONG n = ULONG(packet[0]) - 1;
    if (n > received - kFramedHeader) return false;
    *payload = packet + kFramedHeader;
    *length = n;
    return n > 0;
}

bool PackClassEvent(MidiParser& parser, ULONG cable, PUCHAR packet, ULONG capacity, ULONG* filled,
                    const UCHAR* source, ULONG* taken)
{
    // An event packet never straddles the end of the buffer, whatever the
    // pipe's packet size.
    if (capacity < kEventPacketBytes || *filled > capacity - kEventPacketBytes) {
        *taken = 0;
        return true;
    }
    MidiMessageView message{kMidiNothing, nullptr, 0};
    ULONG fed = 0;
    while (fed < *taken && message.kind == kMidiNothing) message = parser.Feed(source[fed++]);
    *taken = fed;

    if (message.kind != kMidiNothing && message.length > 0) {
        PUCHAR event = packet + *filled;
        RtlZeroMemory(event, kEventPacketBytes);
        event[0] = UCHAR((cable & 0x0F) << 4 | CodeIndex(message));
        RtlCopyMemory(event + 1, message.bytes, message.length < 3 ? message.length : 3);
        *filled += kEventPacketBytes;
    }
    return *filled + kEventPacketBytes > capacity;
}

void UnpackClassEvents(const UCHAR* packet, ULONG received, ClassEventSink sink, void* context)
{
    for (ULONG offset = 0; offset + kEventPacketBytes <= received; offset += kEventPacketBytes) {
        const UCHAR* event = packet + offset;
        const ULONG size = kCinLength[event[0] & 0x0F];
        if (size > 0) sink(context, event[0] >> 4, event + 1, size);
    }
}
