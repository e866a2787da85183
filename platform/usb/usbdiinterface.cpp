// The USBDI bus interface (version 0) a PDO hands out on
// IRP_MN_QUERY_INTERFACE. BusContext is the BusDevice.
#include "usb/bus.h"

#include <usbbusif.h>
#include <usbdlib.h>

namespace usbsim {

namespace {

BusDevice& FromContext(PVOID context) { return *static_cast<BusDevice*>(context); }

void UsbdiReference(PVOID context) { FromContext(context).Reference(); }

void UsbdiDereference(PVOID context) { FromContext(context).Dereference(); }

void UsbdiGetVersion(PVOID, PUSBD_VERSION_INFORMATION versionInformation, PULONG hcdCapabilities)
{
    USBD_GetUSBDIVersion(versionInformation);
    if (hcdCapabilities) *hcdCapabilities = 0;
}

NTSTATUS UsbdiQueryBusTime(PVOID context, PULONG currentFrame)
{
    if (!currentFrame) return STATUS_INVALID_PARAMETER;
    *currentFrame = FromContext(context).HostBus().CurrentFrame();
    return STATUS_SUCCESS;
}

NTSTATUS UsbdiSubmitIsoOutUrb(PVOID, PURB) { return STATUS_NOT_SUPPORTED; }

// Full speed: 12 Mbit/s, i.e. 12000 bits per frame.
constexpr ULONG kFullSpeedBitsPerFrame = 12000;

NTSTATUS UsbdiQueryBusInformation(PVOID, ULONG level, PVOID buffer, PULONG bufferLength,
                                  PULONG actualLength)
{
    if (level != 0) return STATUS_NOT_SUPPORTED;
    if (!bufferLength) return STATUS_INVALID_PARAMETER;
    const ULONG needed = sizeof(USB_BUS_INFORMATION_LEVEL_0);
    if (actualLength) *actualLength = needed;
    if (*bufferLength < needed || !buffer) {
        *bufferLength = needed;
        return STATUS_BUFFER_TOO_SMALL;
    }
    auto* info = static_cast<PUSB_BUS_INFORMATION_LEVEL_0>(buffer);
    info->TotalBandwidth = kFullSpeedBitsPerFrame;
    info->ConsumedBandwidth = 0;
    *bufferLength = needed;
    return STATUS_SUCCESS;
}

}  // namespace

NTSTATUS BusDevice::QueryInterface(PIO_STACK_LOCATION stack)
{
    auto& query = stack->Parameters.QueryInterface;
    if (query.Version != USB_BUSIF_USBDI_VERSION_0) return STATUS_NOT_SUPPORTED;
    if (query.Size < sizeof(USB_BUS_INTERFACE_USBDI_V0) || !query.Interface)
        return STATUS_INVALID_PARAMETER;
    if (!Connected()) return STATUS_DEVICE_NOT_CONNECTED;
    auto* usbdi = reinterpret_cast<PUSB_BUS_INTERFACE_USBDI_V0>(query.Interface);
    usbdi->Size = sizeof(USB_BUS_INTERFACE_USBDI_V0);
    usbdi->Version = USB_BUSIF_USBDI_VERSION_0;
    usbdi->BusContext = this;
    usbdi->InterfaceReference = UsbdiReference;
    usbdi->InterfaceDereference = UsbdiDereference;
    usbdi->GetUSBDIVersion = UsbdiGetVersion;
    usbdi->QueryBusTime = UsbdiQueryBusTime;
    usbdi->SubmitIsoOutUrb = UsbdiSubmitIsoOutUrb;
    usbdi->QueryBusInformation = UsbdiQueryBusInformation;
    // As every provider of a queried interface does, the record comes with
    // one reference that its holder gives back with InterfaceDereference.
    Reference();
    return STATUS_SUCCESS;
}

}  // namespace usbsim
