#include "modelprinter.h"

#include "audiostream.h"
#include "devicesettings.h"
#include "filterdescriptor.h"
#include "guidnames.h"
#include "midiendpoint.h"

#include <iomanip>
#include <sstream>

namespace {

const char* PipeTypeName(USBD_PIPE_TYPE type)
{
    switch (type) {
    case UsbdPipeTypeControl: return "control";
    case UsbdPipeTypeIsochronous: return "isochronous";
    case UsbdPipeTypeBulk: return "bulk";
    case UsbdPipeTypeInterrupt: return "interrupt";
    }
    return "?";
}

const char* FlowName(KSPIN_DATAFLOW flow)
{
    return flow == KSPIN_DATAFLOW_IN ? "IN" : flow == KSPIN_DATAFLOW_OUT ? "OUT" : "?";
}

const char* CommunicationName(KSPIN_COMMUNICATION c)
{
    switch (c) {
    case KSPIN_COMMUNICATION_NONE: return "NONE";
    case KSPIN_COMMUNICATION_SINK: return "SINK";
    case KSPIN_COMMUNICATION_SOURCE: return "SOURCE";
    case KSPIN_COMMUNICATION_BOTH: return "BOTH";
    case KSPIN_COMMUNICATION_BRIDGE: return "BRIDGE";
    }
    return "?";
}

std::string Hex(unsigned value, int width = 2)
{
    std::ostringstream s;
    s << "0x" << std::hex << std::uppercase << std::setw(width) << std::setfill('0') << value;
    return s.str();
}

void PrintRange(std::ostream& out, const KSDATARANGE& range)
{
    out << "      range " << GuidName(range.MajorFormat) << " / " << GuidName(range.SubFormat) << " / "
        << GuidName(range.Specifier);
    if (range.FormatSize >= sizeof(KSDATARANGE_AUDIO) && IsEqualGUID(range.MajorFormat, KSDATAFORMAT_TYPE_AUDIO)) {
        const auto& audio = reinterpret_cast<const KSDATARANGE_AUDIO&>(range);
        out << ": channels <= " << audio.MaximumChannels << ", " << audio.MinimumBitsPerSample << "-"
            << audio.MaximumBitsPerSample << " bits, " << audio.MinimumSampleFrequency << "-"
            << audio.MaximumSampleFrequency << " Hz";
    }
    out << "\n";
}

}  // namespace

void PrintUsbModel(std::ostream& out, UsbAudioDevice& device)
{
    UsbDevice& usb = device.Usb();
    const USB_DEVICE_DESCRIPTOR& d = usb.DeviceDescriptor();
    out << "device " << Hex(d.idVendor, 4) << ":" << Hex(d.idProduct, 4) << ", " << usb.InterfaceCount()
        << " interface(s)\n";
    for (ULONG i = 0; i < usb.InterfaceCount(); ++i) {
        UsbInterface* iface = usb.GetInterface(i);
        const USBD_INTERFACE_INFORMATION* info = iface ? iface->Information() : nullptr;
        if (!info) {
            out << "  interface index " << i << ": not configured\n";
            continue;
        }
        out << "  interface index " << i << ": number " << unsigned(info->InterfaceNumber) << ", alternate setting "
            << unsigned(info->AlternateSetting) << ", class " << Hex(info->Class) << "/" << Hex(info->SubClass)
            << ", " << iface->PipeCount() << " pipe(s)\n";
        for (ULONG p = 0; p < iface->PipeCount(); ++p) {
            UsbEndpoint* endpoint = iface->Endpoint(p);
            if (!endpoint) continue;
            const USBD_PIPE_INFORMATION& pipe = endpoint->Pipe();
            out << "    pipe " << p << ": endpoint " << Hex(pipe.EndpointAddress) << " ("
                << (endpoint->DirectionBit() ? "IN" : "OUT") << "), " << PipeTypeName(pipe.PipeType)
                << ", max packet " << pipe.MaximumPacketSize << (endpoint->Descriptor() ? "" : ", no descriptor")
                << "\n";
        }
    }
}

void PrintStreamsAndEndpoints(std::ostream& out, UsbAudioDevice& device)
{
    auto printStream = [&](const char* kind, AudioStream* stream) {
        out << "  " << kind << " stream on endpoint " << Hex(stream->Endpoint()->Address()) << ": "
            << stream->Channels() << " channels, " << stream->SampleRate() << " Hz, packet stride "
            << stream->PacketStride() << " bytes, " << stream->UrbSize() << " ms per transfer\n";
    };
    out << "streams\n";
    for (ULONG i = 0; i < device.RenderStreamCount(); ++i) printStream("render", device.RenderStream(i));
    for (ULONG i = 0; i < device.CaptureStreamCount(); ++i) printStream("capture", device.CaptureStream(i));

    out << "MIDI endpoints\n";
    const KSFILTER_DESCRIPTOR* filter = device.FilterDescriptor()->Descriptor();
    for (ULONG i = 0; i < device.MidiEndpointCount(); ++i) {
        MidiEndpoint* endpoint = device.GetMidiEndpoint(i);
        out << "  " << endpoint->VariantName() << " on endpoint " << Hex(endpoint->Endpoint()->Address()) << " ("
            << (endpoint->DirectionBit() ? "MIDI in" : "MIDI out") << "), packet " << endpoint->PacketSize()
            << " bytes\n";
        for (ULONG p = 0; p < endpoint->PortCount(); ++p) {
            MidiPort* port = endpoint->Port(p);
            out << "    cable " << port->Cable();
            for (ULONG pin = 0; pin < kMaxMidiPinIds; ++pin) {
                if (device.PortForPin(pin) != port) continue;
                const KSDATARANGE* range = filter->PinDescriptors[pin].PinDescriptor.DataRanges[0];
                out << " -> pin " << pin << (IsEqualGUID(range->SubFormat, KSDATAFORMAT_SUBTYPE_HiddenMidi)
                                                 ? " (hidden)"
                                                 : "");
            }
            out << "\n";
        }
    }
}

void PrintFilterLayout(std::ostream& out, const KSFILTER_DESCRIPTOR& filter)
{
    out << "filter: " << filter.PinDescriptorsCount << " pin(s), " << filter.NodeDescriptorsCount << " node(s), "
        << filter.ConnectionsCount << " connection(s); categories";
    for (ULONG i = 0; i < filter.CategoriesCount; ++i) out << " " << GuidName(filter.Categories[i]);
    out << "\n  property sets:";
    for (ULONG i = 0; i < filter.AutomationTable->PropertySetsCount; ++i)
        out << " " << GuidName(*filter.AutomationTable->PropertySets[i].Set);
    out << "; event sets:";
    for (ULONG i = 0; i < filter.AutomationTable->EventSetsCount; ++i)
        out << " " << GuidName(*filter.AutomationTable->EventSets[i].Set);
    out << "\n";
    for (ULONG i = 0; i < filter.PinDescriptorsCount; ++i) {
        const KSPIN_DESCRIPTOR_EX& pin = filter.PinDescriptors[i];
        const KSPIN_DESCRIPTOR& d = pin.PinDescriptor;
        out << "  pin " << i << ": data flow " << FlowName(d.DataFlow) << ", communication "
            << CommunicationName(d.Communication) << ", category " << (d.Category ? GuidName(*d.Category) : "-")
            << ", name " << (d.Name ? GuidName(*d.Name) : "-") << ", instances "
            << (pin.InstancesPossible == KSINSTANCE_INDETERMINATE ? std::string("any")
                                                                  : std::to_string(pin.InstancesPossible))
            << ", flags " << Hex(pin.Flags, 8) << "\n";
        for (ULONG r = 0; r < d.DataRangesCount; ++r) PrintRange(out, *d.DataRanges[r]);
    }
    for (ULONG i = 0; i < filter.NodeDescriptorsCount; ++i)
        out << "  node " << i << ": " << GuidName(*filter.NodeDescriptors[i].Type) << "\n";
    auto end = [](ULONG node, ULONG pin) {
        return (node == KSFILTER_NODE ? std::string("filter") : "node " + std::to_string(node)) + " pin " +
               std::to_string(pin);
    };
    for (ULONG i = 0; i < filter.ConnectionsCount; ++i) {
        const KSTOPOLOGY_CONNECTION& c = filter.Connections[i];
        out << "  connection " << i << ": " << end(c.FromNode, c.FromNodePin) << " -> " << end(c.ToNode, c.ToNodePin)
            << "\n";
    }
}
