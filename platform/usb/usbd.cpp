// The USB driver library: descriptor search and construction of the
// select-configuration request.
#include "usb/descriptorwalk.h"
#include "km/verifier.h"

#include <usbdlib.h>

namespace {

constexpr ULONG kUsbdTag = kmsim::MakeTag('U', 'S', 'B', 'D');

usbsim::DescriptorRange WholeConfiguration(PUSB_CONFIGURATION_DESCRIPTOR configuration)
{
    // The caller vouches that the buffer holds wTotalLength bytes.
    if (!configuration) return {};
    return usbsim::ConfigurationRange(configuration, configuration->wTotalLength);
}

}  // namespace

PUSB_INTERFACE_DESCRIPTOR USBD_ParseConfigurationDescriptorEx(
    PUSB_CONFIGURATION_DESCRIPTOR ConfigurationDescriptor, PVOID StartPosition,
    LONG InterfaceNumber, LONG AlternateSetting, LONG InterfaceClass, LONG InterfaceSubClass,
    LONG InterfaceProtocol)
{
    const usbsim::DescriptorRange range = WholeConfiguration(ConfigurationDescriptor);
    if (!range.begin) return nullptr;
    auto* start = StartPosition ? static_cast<const uint8_t*>(StartPosition) : range.begin;
    return const_cast<PUSB_INTERFACE_DESCRIPTOR>(usbsim::FindInterface(
        range, start, InterfaceNumber, AlternateSetting, InterfaceClass, InterfaceSubClass,
        InterfaceProtocol));
}

PUSB_INTERFACE_DESCRIPTOR USBD_ParseConfigurationDescriptor(
    PUSB_CONFIGURATION_DESCRIPTOR ConfigurationDescriptor, UCHAR InterfaceNumber,
    UCHAR AlternateSetting)
{
    return USBD_ParseConfigurationDescriptorEx(ConfigurationDescriptor, ConfigurationDescriptor,
                                               InterfaceNumber, AlternateSetting, -1, -1, -1);
}

PUSB_COMMON_DESCRIPTOR USBD_ParseDescriptors(PVOID DescriptorBuffer, ULONG TotalLength,
                                             PVOID StartPosition, LONG DescriptorType)
{
    if (!DescriptorBuffer) return nullptr;
    auto* begin = static_cast<const uint8_t*>(DescriptorBuffer);
    const usbsim::DescriptorRange range{begin, begin + TotalLength};
    auto* start = StartPosition ? static_cast<const uint8_t*>(StartPosition) : begin;
    for (auto* d = range.At(start); d; d = range.Next(d)) {
        if (d->bDescriptorType == DescriptorType) return const_cast<PUSB_COMMON_DESCRIPTOR>(d);
    }
    return nullptr;
}

PURB USBD_CreateConfigurationRequestEx(PUSB_CONFIGURATION_DESCRIPTOR ConfigurationDescriptor,
                                       PUSBD_INTERFACE_LIST_ENTRY InterfaceList)
{
    const usbsim::DescriptorRange range = WholeConfiguration(ConfigurationDescriptor);
    if (!range.begin || !InterfaceList || !InterfaceList[0].InterfaceDescriptor) return nullptr;

    // Every listed descriptor must be a whole interface descriptor inside
    // the configuration, or the records would describe memory we never read.
    size_t size = FIELD_OFFSET(struct _URB_SELECT_CONFIGURATION, Interface);
    for (PUSBD_INTERFACE_LIST_ENTRY e = InterfaceList; e->InterfaceDescriptor; ++e) {
        auto* at = reinterpret_cast<const uint8_t*>(e->InterfaceDescriptor);
        if (!range.Contains(at) || !usbsim::AsInterface(range.At(at))) return nullptr;
        size += GET_USBD_INTERFACE_SIZE(e->InterfaceDescriptor->bNumEndpoints);
    }
    if (size > 0xFFFF) return nullptr;  // does not fit the header's Length

    auto* urb = static_cast<PURB>(ExAllocatePoolWithTag(NonPagedPool, size, kUsbdTag));
    if (!urb) return nullptr;
    RtlZeroMemory(urb, size);
    urb->UrbHeader.Length = USHORT(size);
    urb->UrbHeader.Function = URB_FUNCTION_SELECT_CONFIGURATION;
    urb->UrbSelectConfiguration.ConfigurationDescriptor = ConfigurationDescriptor;

    auto* record = reinterpret_cast<uint8_t*>(&urb->UrbSelectConfiguration.Interface);
    for (PUSBD_INTERFACE_LIST_ENTRY e = InterfaceList; e->InterfaceDescriptor; ++e) {
        const UCHAR pipes = e->InterfaceDescriptor->bNumEndpoints;
        auto* info = reinterpret_cast<PUSBD_INTERFACE_INFORMATION>(record);
        info->Length = USHORT(GET_USBD_INTERFACE_SIZE(pipes));
        info->InterfaceNumber = e->InterfaceDescriptor->bInterfaceNumber;
        info->AlternateSetting = e->InterfaceDescriptor->bAlternateSetting;
        info->NumberOfPipes = pipes;
        for (UCHAR p = 0; p < pipes; ++p)
            info->Pipes[p].MaximumTransferSize = USBD_DEFAULT_MAXIMUM_TRANSFER_SIZE;
        e->Interface = info;
        record += info->Length;
    }
    return urb;
}

void USBD_GetUSBDIVersion(PUSBD_VERSION_INFORMATION VersionInformation)
{
    if (!VersionInformation) return;
    VersionInformation->USBDI_Version = 0x00000500;
    VersionInformation->Supported_USB_Version = 0x00000200;
}
