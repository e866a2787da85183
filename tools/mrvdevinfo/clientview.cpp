#include "clientview.h"

#include "devicesettings.h"
#include "guidnames.h"
#include "km/ksdeviceinterfaces.h"

#include <ksmedia.h>

#include <cstring>
#include <vector>

namespace {

std::string Narrow(const std::u16string& text)
{
    std::string out;
    for (char16_t c : text) out += c < 0x80 ? char(c) : '?';
    return out;
}

// A property whose answer is a KSMULTIPLE_ITEM: asks for the size first.
std::vector<uint8_t> MultipleItem(kmsim::KsClientHandle& filter, ULONG pinId, const GUID& set, ULONG id)
{
    ULONG_PTR needed = 0;
    std::vector<uint8_t> data;
    NTSTATUS status = pinId == ULONG(-1) ? filter.Property(set, id, KSPROPERTY_TYPE_GET, nullptr, 0, &needed)
                                         : filter.PinProperty(pinId, id, nullptr, 0, &needed);
    if (status != STATUS_BUFFER_OVERFLOW || needed < sizeof(KSMULTIPLE_ITEM)) return data;
    data.resize(needed);
    status = pinId == ULONG(-1) ? filter.Property(set, id, KSPROPERTY_TYPE_GET, data.data(), ULONG(needed))
                                : filter.PinProperty(pinId, id, data.data(), ULONG(needed));
    if (!NT_SUCCESS(status)) data.clear();
    return data;
}

template <class T>
bool PinValue(kmsim::KsClientHandle& filter, ULONG pinId, ULONG id, T* value)
{
    return NT_SUCCESS(filter.PinProperty(pinId, id, value, sizeof(T)));
}

std::string PinName(kmsim::KsClientHandle& filter, ULONG pinId)
{
    char16_t name[130] = {};
    ULONG_PTR returned = 0;
    if (!NT_SUCCESS(filter.PinProperty(pinId, KSPROPERTY_PIN_NAME, name, sizeof(name) - 2, &returned)) || !returned)
        return "-";
    return "\"" + Narrow(name) + "\"";
}

}  // namespace

void PrintPublishedInterfaces(std::ostream& out, const std::u16string& friendlyName)
{
    out << "published filter \"" << Narrow(friendlyName) << "\"\n";
    for (const GUID* category : {&KSCATEGORY_AUDIO, &KSCATEGORY_RENDER, &KSCATEGORY_CAPTURE})
        for (const auto& record : kmsim::DeviceInterfaces(*category))
            if (record.enabled) out << "  " << GuidName(*category) << ": " << Narrow(record.symbolicLink) << "\n";
}

void PrintClientView(std::ostream& out, kmsim::KsClientHandle& filter)
{
    ULONG urbSize = 0;
    if (NT_SUCCESS(filter.Property(KSPROPSETID_DeviceSettings, KSPROPERTY_DEVICESETTINGS_URBSIZE, KSPROPERTY_TYPE_GET,
                                   &urbSize, sizeof(urbSize))))
        out << "  UrbSize " << urbSize << " ms\n";
    else
        out << "  no device settings property (no audio pins)\n";

    ULONG pins = 0;
    if (!NT_SUCCESS(filter.Property(KSPROPSETID_Pin, KSPROPERTY_PIN_CTYPES, KSPROPERTY_TYPE_GET, &pins, sizeof(pins))))
        return;
    for (ULONG pin = 0; pin < pins; ++pin) {
        KSPIN_DATAFLOW flow{};
        KSPIN_COMMUNICATION communication{};
        GUID category{};
        PinValue(filter, pin, KSPROPERTY_PIN_DATAFLOW, &flow);
        PinValue(filter, pin, KSPROPERTY_PIN_COMMUNICATION, &communication);
        PinValue(filter, pin, KSPROPERTY_PIN_CATEGORY, &category);
        out << "  pin " << pin << ": " << (flow == KSPIN_DATAFLOW_IN ? "in" : "out") << ", "
            << (communication == KSPIN_COMMUNICATION_SINK ? "sink" : "none") << ", " << GuidName(category)
            << ", name " << PinName(filter, pin) << "\n";
        std::vector<uint8_t> ranges = MultipleItem(filter, pin, KSPROPSETID_Pin, KSPROPERTY_PIN_DATARANGES);
        if (ranges.empty()) continue;
        KSMULTIPLE_ITEM header;
        std::memcpy(&header, ranges.data(), sizeof(header));
        size_t offset = sizeof(KSMULTIPLE_ITEM);
        for (ULONG r = 0; r < header.Count && offset + sizeof(KSDATARANGE) <= ranges.size(); ++r) {
            KSDATARANGE range;
            std::memcpy(&range, ranges.data() + offset, sizeof(range));
            out << "      " << GuidName(range.SubFormat) << " / " << GuidName(range.Specifier);
            if (IsEqualGUID(range.MajorFormat, KSDATAFORMAT_TYPE_AUDIO) && range.FormatSize >= sizeof(KSDATARANGE_AUDIO) &&
                offset + sizeof(KSDATARANGE_AUDIO) <= ranges.size()) {
                KSDATARANGE_AUDIO audio;
                std::memcpy(&audio, ranges.data() + offset, sizeof(audio));
                out << ", up to " << audio.MaximumChannels << " channels, " << audio.MinimumBitsPerSample << "-"
                    << audio.MaximumBitsPerSample << " bits, " << audio.MaximumSampleFrequency << " Hz";
            }
            out << "\n";
            // Ranges follow one another on 8-byte boundaries.
            offset += (range.FormatSize + 7) & ~size_t(7);
            if (range.FormatSize == 0) break;
        }
    }
    std::vector<uint8_t> connections = MultipleItem(filter, ULONG(-1), KSPROPSETID_Topology,
                                                    KSPROPERTY_TOPOLOGY_CONNECTIONS);
    if (connections.size() >= sizeof(KSMULTIPLE_ITEM)) {
        KSMULTIPLE_ITEM header;
        std::memcpy(&header, connections.data(), sizeof(header));
        out << "  topology: " << header.Count << " connection(s)\n";
    }
}
