#include "midiendpointvariants.h"
#include "usbdevice.h"

namespace {
constexpr UCHAR kCsEndpoint = 0x25;
constexpr UCHAR kMsGeneral = 0x01;
}

ULONG ClassMidiCableCount(const UsbEndpoint* endpoint)
{
    PUSB_ENDPOINT_DESCRIPTOR descriptor = endpoint->Descriptor();
    if (!descriptor || !(descriptor->bmAttributes & 0x02)) return 0;

    // The class-specific descriptor follows the endpoint descriptor; it must
    // lie inside the configuration descriptor before a byte of it is read.
    const UsbDevice* device = endpoint->Device();
    auto* start = reinterpret_cast<const UCHAR*>(device->ConfigurationDescriptor());
    auto* end = start + device->ConfigurationLength();
    auto* next = reinterpret_cast<const UCHAR*>(descriptor) + descriptor->bLength;
    if (next + 4 > end || next[0] < 4 || next + next[0] > end) return 0;
    if (next[1] != kCsEndpoint || next[2] != kMsGeneral) return 0;

    ULONG jacks = next[3];
    return jacks < kMaxMidiPorts ? jacks : kMaxMidiPorts;
}

void ClassMidiEndpoint::AddDescriptorPorts()
{
    const ULONG cables = ClassMidiCableCount(m_endpoint);
    if (cables == 0) {
        DestroyPorts();
        return;
    }
    m_portsByCable[0] = m_ports[0];
    for (ULONG cable = 1; cable < cables; ++cable) m_portsByCable[cable] = AddPort(cable);
}

ClassMidiEndpoint* ClassMidiEndpoint::Create(UsbEndpoint* endpoint)
{
    ClassMidiEndpoint* created = CreateVariant<ClassMidiEndpoint>(endpoint);
    if (created) created->AddDescriptorPorts();
    return created;
}

ClassMidiEndpointEx* ClassMidiEndpointEx::Create(UsbEndpoint* endpoint)
{
    ClassMidiEndpointEx* created = CreateVariant<ClassMidiEndpointEx>(endpoint);
    if (!created) return nullptr;
    created->AddDescriptorPorts();
    // Cable 2 may already be one of the descriptor's cables; the extra port
    // then replaces it in the cable table, as the hardware routes it.
    created->m_portsByCable[2] = created->AddPort(2);
    return created;
}

namespace {

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

ClassMidiEndpoint::ClassMidiEndpoint(UsbEndpoint* endpoint) : MidiEndpoint(endpoint)
{
    for (auto& parser : m_parsers) parser.Reset(kClassSysExChunk);
}

bool ClassMidiEndpoint::PackOutput(PUCHAR packet, ULONG capacity, ULONG* filled, const UCHAR* source, ULONG* taken,
                                   ULONG portIndex)
{
    // An event packet never straddles the end of the buffer, whatever the
    // pipe's packet size.
    if (capacity < kEventPacketBytes || *filled > capacity - kEventPacketBytes || portIndex >= m_portCount) {
        *taken = 0;
        return true;
    }
    const ULONG cable = m_ports[portIndex]->Cable() & 0x0F;
    MidiParser& parser = m_parsers[cable];

    MidiMessageView message{kMidiNothing, nullptr, 0};
    ULONG fed = 0;
    while (fed < *taken && message.kind == kMidiNothing) message = parser.Feed(source[fed++]);
    *taken = fed;

    if (message.kind != kMidiNothing && message.length > 0) {
        PUCHAR event = packet + *filled;
        RtlZeroMemory(event, kEventPacketBytes);
        event[0] = UCHAR(cable << 4 | CodeIndex(message));
        RtlCopyMemory(event + 1, message.bytes, message.length < 3 ? message.length : 3);
        *filled += kEventPacketBytes;
    }
    return *filled + kEventPacketBytes > capacity;
}

void ClassMidiEndpoint::UnpackInput(const UCHAR* packet, ULONG received)
{
    for (ULONG offset = 0; offset + kEventPacketBytes <= received; offset += kEventPacketBytes) {
        const UCHAR* event = packet + offset;
        MidiPort* port = m_portsByCable[event[0] >> 4];
        const ULONG size = kCinLength[event[0] & 0x0F];
        if (port && size > 0) port->AppendEvent(event + 1, size);
    }
    for (ULONG i = 0; i < m_portCount; ++i) m_ports[i]->DeliverEvents();
}

bool ClassMidiEndpoint::GetInputPayload(const UCHAR*, ULONG, const UCHAR**, ULONG*)
{
    return false;
}
