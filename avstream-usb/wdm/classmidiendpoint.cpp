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

ClassMidiEndpoint::ClassMidiEndpoint(UsbEndpoint* endpoint) : MidiEndpoint(endpoint)
{
    for (auto& parser : m_parsers) parser.Reset(kClassSysExChunk);
}
