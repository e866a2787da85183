// USB driver library: descriptor search and request construction.
#pragma once

#include <wdm.h>
#include <usb.h>

typedef struct _USBD_INTERFACE_LIST_ENTRY {
    PUSB_INTERFACE_DESCRIPTOR InterfaceDescriptor;
    PUSBD_INTERFACE_INFORMATION Interface;  // set by USBD_CreateConfigurationRequestEx
} USBD_INTERFACE_LIST_ENTRY, *PUSBD_INTERFACE_LIST_ENTRY;

// The first interface descriptor at or after StartPosition (inside the
// configuration's wTotalLength) whose fields equal every argument that is
// not -1; null if none.
PUSB_INTERFACE_DESCRIPTOR USBD_ParseConfigurationDescriptorEx(
    PUSB_CONFIGURATION_DESCRIPTOR ConfigurationDescriptor, PVOID StartPosition,
    LONG InterfaceNumber, LONG AlternateSetting, LONG InterfaceClass, LONG InterfaceSubClass,
    LONG InterfaceProtocol);

// Older form: searches from the start of the configuration.
PUSB_INTERFACE_DESCRIPTOR USBD_ParseConfigurationDescriptor(
    PUSB_CONFIGURATION_DESCRIPTOR ConfigurationDescriptor, UCHAR InterfaceNumber,
    UCHAR AlternateSetting);

// Walks by bLength from StartPosition; the first descriptor of the type, or
// null at the end of the buffer, at a zero bLength or at a descriptor that
// would run past the buffer.
PUSB_COMMON_DESCRIPTOR USBD_ParseDescriptors(PVOID DescriptorBuffer, ULONG TotalLength,
                                             PVOID StartPosition, LONG DescriptorType);

// A select-configuration request with one interface information record per
// list entry (each entry's Interface points at its record), allocated from
// non-paged pool; the caller frees it with ExFreePool. Null when an entry's
// descriptor lies outside the configuration or no memory.
PURB USBD_CreateConfigurationRequestEx(PUSB_CONFIGURATION_DESCRIPTOR ConfigurationDescriptor,
                                       PUSBD_INTERFACE_LIST_ENTRY InterfaceList);

void USBD_GetUSBDIVersion(PUSBD_VERSION_INFORMATION VersionInformation);

#define UsbBuildGetDescriptorRequest(urb, length, descriptorType, descriptorIndex, languageId,   \
                                     transferBuffer, transferBufferMDL, transferBufferLength,    \
                                     link)                                                       \
    do {                                                                                         \
        (urb)->UrbHeader.Function = URB_FUNCTION_GET_DESCRIPTOR_FROM_DEVICE;                     \
        (urb)->UrbHeader.Length = (length);                                                      \
        (urb)->UrbControlDescriptorRequest.TransferBufferLength = (transferBufferLength);        \
        (urb)->UrbControlDescriptorRequest.TransferBufferMDL = (transferBufferMDL);              \
        (urb)->UrbControlDescriptorRequest.TransferBuffer = (transferBuffer);                    \
        (urb)->UrbControlDescriptorRequest.DescriptorType = (descriptorType);                    \
        (urb)->UrbControlDescriptorRequest.Index = (descriptorIndex);                            \
        (urb)->UrbControlDescriptorRequest.LanguageId = (languageId);                            \
        (urb)->UrbControlDescriptorRequest.UrbLink = (link);                                     \
    } while (0)

#define UsbBuildInterruptOrBulkTransferRequest(urb, length, pipeHandle, transferBuffer,          \
                                               transferBufferMDL, transferBufferLength,          \
                                               transferFlags, link)                              \
    do {                                                                                         \
        (urb)->UrbHeader.Function = URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER;                     \
        (urb)->UrbHeader.Length = (length);                                                      \
        (urb)->UrbBulkOrInterruptTransfer.PipeHandle = (pipeHandle);                             \
        (urb)->UrbBulkOrInterruptTransfer.TransferBufferLength = (transferBufferLength);         \
        (urb)->UrbBulkOrInterruptTransfer.TransferBufferMDL = (transferBufferMDL);               \
        (urb)->UrbBulkOrInterruptTransfer.TransferBuffer = (transferBuffer);                     \
        (urb)->UrbBulkOrInterruptTransfer.TransferFlags = (transferFlags);                       \
        (urb)->UrbBulkOrInterruptTransfer.UrbLink = (link);                                      \
    } while (0)

#define UsbBuildSelectConfigurationRequest(urb, length, configurationDescriptor)                 \
    do {                                                                                         \
        (urb)->UrbHeader.Function = URB_FUNCTION_SELECT_CONFIGURATION;                           \
        (urb)->UrbHeader.Length = (length);                                                      \
        (urb)->UrbSelectConfiguration.ConfigurationDescriptor = (configurationDescriptor);       \
    } while (0)

#define UsbBuildSelectInterfaceRequest(urb, length, configurationHandle, interfaceNumber,        \
                                       alternateSetting)                                         \
    do {                                                                                         \
        (urb)->UrbHeader.Function = URB_FUNCTION_SELECT_INTERFACE;                               \
        (urb)->UrbHeader.Length = (length);                                                      \
        (urb)->UrbSelectInterface.Interface.AlternateSetting = (alternateSetting);               \
        (urb)->UrbSelectInterface.Interface.InterfaceNumber = (interfaceNumber);                 \
        (urb)->UrbSelectInterface.Interface.Length =                                             \
            (USHORT)((length) - sizeof(struct _URB_HEADER) - sizeof(USBD_CONFIGURATION_HANDLE)); \
        (urb)->UrbSelectInterface.ConfigurationHandle = (configurationHandle);                   \
    } while (0)
