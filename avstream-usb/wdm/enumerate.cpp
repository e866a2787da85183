#include "audiostream.h"
#include "descriptorwalk.h"
#include "filtertemplates.h"
#include "midiendpointvariants.h"
#include "streamingformat.h"
#include "usbaudiodevice.h"

namespace {
constexpr UCHAR kAudioClass = 0x01;
constexpr UCHAR kAudioStreamingSubClass = 0x02;
constexpr UCHAR kMidiStreamingSubClass = 0x03;
constexpr UCHAR kVendorClass = 0xFF;
constexpr UCHAR kIsochronous = 0x01;
constexpr ULONG kMaxBitResolution = 8 * kWireBytesPerSample;

// The most frames a 1-ms packet carries at any offered rate: rate / 1000,
// one more when that does not divide evenly.
constexpr ULONG LargestPacketFrames()
{
    ULONG largest = 0;
    for (ULONG rate : kOfferedSampleRates)
        if ((rate + 999) / 1000 > largest) largest = (rate + 999) / 1000;
    return largest;
}

// The stream sizes its packets from the rate alone, so an endpoint must
// take the largest packet of every rate the pins offer.
bool HoldsEveryOfferedRate(ULONG packetSize, ULONG channels)
{
    return packetSize >= LargestPacketFrames() * kWireBytesPerSample * channels;
}

// Whether the driver can stream what `setting` declares: one isochronous
// endpoint; PCM in 3-byte subframes of at most 24 bits; two channels, or
// four on render; every offered rate (or rates left to the device's
// clock); and packets that hold every offered rate. On success, the
// channel count and the endpoint's address.
bool CanStream(const UsbDevice& usb, PUSB_INTERFACE_DESCRIPTOR setting, ULONG* channels, UCHAR* address)
{
    if (setting->bNumEndpoints != 1) return false;
    auto* end = reinterpret_cast<const UCHAR*>(usb.ConfigurationDescriptor()) + usb.ConfigurationLength();
    StreamingFormat format;
    if (!ReadStreamingFormat(setting, end, &format)) return false;

    DescriptorWalk walk(setting, end);
    walk.Next();
    const USB_ENDPOINT_DESCRIPTOR* endpoint = nullptr;
    while (const UCHAR* d = walk.Next()) {
        if (d[1] == DescriptorWalk::kInterface) break;
        if (d[1] != DescriptorWalk::kEndpoint) continue;
        if (d[0] >= sizeof(USB_ENDPOINT_DESCRIPTOR)) endpoint = reinterpret_cast<const USB_ENDPOINT_DESCRIPTOR*>(d);
        break;
    }
    if (!endpoint || (endpoint->bmAttributes & 0x03) != kIsochronous) return false;

    const bool capture = (endpoint->bEndpointAddress & 0x80) != 0;
    if (format.subframeBytes != kWireBytesPerSample || format.bitResolution == 0 ||
        format.bitResolution > kMaxBitResolution)
        return false;
    // Capture pins offer two channels; render pins two or, when the device
    // has it, four.
    if (format.channels != 2 && (capture || format.channels != 4)) return false;
    for (ULONG rate : kOfferedSampleRates)
        if (!format.LeavesRateToClock() && !format.DeclaresRate(rate)) return false;
    if (!HoldsEveryOfferedRate(usb.AudioPacketSize(endpoint->wMaxPacketSize), format.channels)) return false;
    *channels = format.channels;
    *address = endpoint->bEndpointAddress;
    return true;
}

// The first alternate setting of interface `number` that the driver can
// stream, or 0 when none is.
UCHAR ChooseStreamingSetting(const UsbDevice& usb, UCHAR number)
{
    auto* start = reinterpret_cast<const UCHAR*>(usb.ConfigurationDescriptor());
    DescriptorWalk walk(start, start + usb.ConfigurationLength());
    walk.Next();
    while (const UCHAR* d = walk.Next()) {
        if (d[1] != DescriptorWalk::kInterface || d[0] < sizeof(USB_INTERFACE_DESCRIPTOR)) continue;
        auto* setting = reinterpret_cast<PUSB_INTERFACE_DESCRIPTOR>(const_cast<UCHAR*>(d));
        if (setting->bInterfaceNumber != number || setting->bAlternateSetting == 0) continue;
        // A setting listed twice is selected by its first listing.
        if (usb.FindInterface(number, setting->bAlternateSetting) != setting) continue;
        ULONG channels;
        UCHAR address;
        if (CanStream(usb, setting, &channels, &address)) return setting->bAlternateSetting;
    }
    return 0;
}
}  // namespace

UsbInterface* UsbAudioDevice::MatchInterface(ULONG index, ULONG pipes, LONG interfaceClass, LONG subClass)
{
    UsbInterface* iface = m_usb.GetInterface(index);
    if (!iface || !iface->Information()) return nullptr;
    const USBD_INTERFACE_INFORMATION* info = iface->Information();
    if (iface->PipeCount() != pipes || info->NumberOfPipes != pipes) return nullptr;
    if (interfaceClass != -1 && info->Class != interfaceClass) return nullptr;
    if (subClass != -1 && info->SubClass != subClass) return nullptr;
    return iface;
}

// An endpoint too small for a rate the pins offer gets no stream: its
// packets could not carry that rate.
void UsbAudioDevice::AddAudioStream(UsbEndpoint* endpoint, ULONG channels)
{
    if (!endpoint || !HoldsEveryOfferedRate(endpoint->AudioPacketSize(), channels)) return;
    RegisterAudioStream(new AudioStream(endpoint, m_urbSize, channels));
}

// One endpoint of the variant for pipe 0, then one for pipe 1.
template <class Variant>
void UsbAudioDevice::AddMidiEndpoints(UsbInterface* iface, bool hidden)
{
    for (ULONG pipe = 0; pipe < 2; ++pipe) {
        UsbEndpoint* endpoint = iface->Endpoint(pipe);
        if (endpoint) RegisterMidiEndpoint(Variant::Create(endpoint), hidden);
    }
}

NTSTATUS UsbAudioDevice::Enumerate()
{
    const USB_DEVICE_DESCRIPTOR& device = m_usb.DeviceDescriptor();
    if (device.idVendor != kVendorId) return STATUS_NOT_SUPPORTED;

    const bool hidden = IsKinetraHidden();
    UsbInterface* iface = nullptr;
    switch (device.idProduct) {
    case 0x0A:
    case 0x0F:
        if ((iface = MatchInterface(0, 2))) AddMidiEndpoints<RawMidiEndpoint>(iface, hidden);
        return STATUS_SUCCESS;

    case 0x0B:
    case 0x0C:
    case 0x12:
        if ((iface = MatchInterface(1, 2, kAudioClass, kMidiStreamingSubClass)))
            AddMidiEndpoints<ClassMidiEndpoint>(iface, false);
        if ((iface = MatchInterface(2, 2, kVendorClass, 0)))
            AddMidiEndpoints<ClassMidiEndpointEx>(iface, hidden);
        return STATUS_SUCCESS;

    case 0x0E:
        if ((iface = MatchInterface(0, 2))) AddMidiEndpoints<RunningStatusMidiEndpoint>(iface, false);
        return STATUS_SUCCESS;

    case 0x10: {
        NTSTATUS status = m_usb.SelectInterface(0, 1);
        if (!NT_SUCCESS(status)) return status;
        if ((iface = MatchInterface(0, 2))) {
            AddAudioStream(iface->Endpoint(0), 4);
            AddAudioStream(iface->Endpoint(1), 2);
        }
        if ((iface = MatchInterface(1, 2))) AddMidiEndpoints<RawMidiEndpoint>(iface, false);
        return STATUS_SUCCESS;
    }

    default:
        return EnumerateGeneric();
    }
}

// Class-compliant layouts: audio streaming interfaces on the alternate
// setting whose format the driver carries, MIDI streaming interfaces, and
// vendor interfaces with a pair of framed MIDI pipes.
NTSTATUS UsbAudioDevice::EnumerateGeneric()
{
    NTSTATUS status = STATUS_SUCCESS;
    const ULONG count = m_usb.InterfaceCount();
    for (ULONG i = 0; i < count; ++i) {
        UsbInterface* iface = m_usb.GetInterface(i);
        if (!iface) return status;
        const USBD_INTERFACE_INFORMATION* info = iface->Information();
        if (!info) continue;

        if (info->Class == kAudioClass && info->SubClass == kAudioStreamingSubClass) {
            status = AddStreamingInterface(i);
            if (!NT_SUCCESS(status)) return status;
            info = iface->Information();
            if (!info) continue;
        }
        if (info->Class == kAudioClass && info->SubClass == kMidiStreamingSubClass) {
            for (ULONG j = 0; j < iface->PipeCount(); ++j)
                if (UsbEndpoint* endpoint = iface->Endpoint(j))
                    RegisterMidiEndpoint(ClassMidiEndpoint::Create(endpoint), false);
        }
        if (info->Class == kVendorClass && info->SubClass == 0 && info->AlternateSetting == 0 &&
            iface->PipeCount() == 2 && info->NumberOfPipes == 2)
            AddMidiEndpoints<FramedMidiEndpoint>(iface, false);
    }
    return status;
}

// Selects the audio streaming interface's streamable setting and makes its
// stream; an interface left without one goes back to alternate setting 0,
// which holds no bus bandwidth. Fails only when the setting chosen cannot
// be selected.
NTSTATUS UsbAudioDevice::AddStreamingInterface(ULONG index)
{
    UsbInterface* iface = m_usb.GetInterface(index);
    const UCHAR setting = ChooseStreamingSetting(m_usb, iface->Information()->InterfaceNumber);
    if (setting != 0 && iface->Information()->AlternateSetting != setting) {
        NTSTATUS status = m_usb.SelectInterface(index, setting);
        if (!NT_SUCCESS(status)) return status;
    }

    // What the stack selected is checked again: the stream is sized from it.
    const USBD_INTERFACE_INFORMATION* info = iface->Information();
    const ULONG streams = m_captureCount + m_renderCount;
    ULONG channels = 0;
    UCHAR address = 0;
    UsbEndpoint* endpoint = iface->Endpoint(0);
    if (setting != 0 && info && info->AlternateSetting == setting && iface->Descriptor() && endpoint &&
        iface->PipeCount() == 1 && info->NumberOfPipes == 1 &&
        CanStream(m_usb, iface->Descriptor(), &channels, &address) && endpoint->Address() == address &&
        endpoint->Pipe().PipeType == UsbdPipeTypeIsochronous)
        AddAudioStream(endpoint, channels);

    info = iface->Information();
    if (m_captureCount + m_renderCount == streams && info && info->AlternateSetting != 0)
        m_usb.SelectInterface(index, 0);
    return STATUS_SUCCESS;
}
