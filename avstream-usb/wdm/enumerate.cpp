#include "audiostream.h"
#include "midiendpointvariants.h"
#include "usbaudiodevice.h"

namespace {
constexpr UCHAR kAudioClass = 0x01;
constexpr UCHAR kAudioStreamingSubClass = 0x02;
constexpr UCHAR kMidiStreamingSubClass = 0x03;
constexpr UCHAR kVendorClass = 0xFF;
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

void UsbAudioDevice::AddAudioStream(UsbEndpoint* endpoint, ULONG channels)
{
    if (endpoint) RegisterAudioStream(new AudioStream(endpoint, m_urbSize, channels));
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

// Class-compliant layouts: audio streaming interfaces on alternate setting 1
// with one isochronous pipe, MIDI streaming interfaces, and vendor
// interfaces with a pair of framed MIDI pipes.
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
            if (info->AlternateSetting != 1) {
                status = m_usb.SelectInterface(i, 1);
                if (!NT_SUCCESS(status)) return status;
                info = iface->Information();
                if (!info) continue;
            }
            if (info->AlternateSetting == 1 && iface->PipeCount() == 1 && info->NumberOfPipes == 1)
                AddAudioStream(iface->Endpoint(0), 2);
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
