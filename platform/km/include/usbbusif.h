// Direct-call interface of the USB bus driver, obtained with
// IRP_MN_QUERY_INTERFACE. Every function takes the record's BusContext.
#pragma once

#include <wdm.h>
#include <usb.h>

DEFINE_GUID(USB_BUS_INTERFACE_USBDI_GUID, 0xB1A96A13, 0x3DE0, 0x4574, 0x9B, 0x01, 0xC0, 0x8F, 0xEA,
            0xB3, 0x18, 0xD6);

#define USB_BUSIF_USBDI_VERSION_0 0x0000

typedef NTSTATUS (*PUSB_BUSIFFN_SUBMIT_ISO_OUT_URB)(PVOID BusContext, PURB Urb);
typedef void (*PUSB_BUSIFFN_GETUSBDI_VERSION)(PVOID BusContext,
                                              PUSBD_VERSION_INFORMATION VersionInformation,
                                              PULONG HcdCapabilities);
// The bus's 32-bit frame counter (one frame per millisecond).
typedef NTSTATUS (*PUSB_BUSIFFN_QUERY_BUS_TIME)(PVOID BusContext, PULONG CurrentFrame);
typedef NTSTATUS (*PUSB_BUSIFFN_QUERY_BUS_INFORMATION)(PVOID BusContext, ULONG Level,
                                                       PVOID BusInformationBuffer,
                                                       PULONG BusInformationBufferLength,
                                                       PULONG BusInformationActualLength);

typedef struct _USB_BUS_INTERFACE_USBDI_V0 {
    USHORT Size;
    USHORT Version;
    PVOID BusContext;
    PINTERFACE_REFERENCE InterfaceReference;
    PINTERFACE_DEREFERENCE InterfaceDereference;
    PUSB_BUSIFFN_GETUSBDI_VERSION GetUSBDIVersion;
    PUSB_BUSIFFN_QUERY_BUS_TIME QueryBusTime;
    PUSB_BUSIFFN_SUBMIT_ISO_OUT_URB SubmitIsoOutUrb;
    PUSB_BUSIFFN_QUERY_BUS_INFORMATION QueryBusInformation;
} USB_BUS_INTERFACE_USBDI_V0, *PUSB_BUS_INTERFACE_USBDI_V0;

// Level 0 of QueryBusInformation.
typedef struct _USB_BUS_INFORMATION_LEVEL_0 {
    ULONG TotalBandwidth;        // bits per millisecond
    ULONG ConsumedBandwidth;
} USB_BUS_INFORMATION_LEVEL_0, *PUSB_BUS_INFORMATION_LEVEL_0;
