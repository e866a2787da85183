#include "usbdevice.h"

#include "descriptorwalk.h"
#include "usbrequest.h"

namespace {
// This product reports a packet size smaller than the data it sends.
constexpr USHORT kOversizedPacketProduct = 0x0002;
constexpr ULONG kOversizedPacketSize = 0x120;
constexpr ULONG kPacketSizeMask = 0x7FF;
}  // namespace

UsbDevice::UsbDevice()
{
    for (auto& iface : m_interfaces) iface = new UsbInterface(this);
}

UsbDevice::~UsbDevice()
{
    // Interfaces point into the configuration descriptor: clear them first.
    for (auto& iface : m_interfaces) {
        delete iface;
        iface = nullptr;
    }
    FreeConfiguration();
    if (m_usbdi) {
        FreeBuffer(m_usbdi);
        m_usbdi = nullptr;
    }
}

void UsbDevice::FreeConfiguration()
{
    FreeBuffer(m_configuration);
    m_configuration = nullptr;
    m_interfaceCount = 0;
}

ULONG UsbDevice::ConfigurationLength() const
{
    return m_configuration ? m_configuration->wTotalLength : 0;
}

UsbInterface* UsbDevice::GetInterface(ULONG index) const
{
    return index < InterfaceCount() ? m_interfaces[index] : nullptr;
}

PUSB_INTERFACE_DESCRIPTOR UsbDevice::FindInterface(LONG number, LONG alternateSetting, LONG interfaceClass,
                                                   LONG subClass, LONG protocol) const
{
    if (!m_configuration) return nullptr;
    PUSB_INTERFACE_DESCRIPTOR found = USBD_ParseConfigurationDescriptorEx(
        m_configuration, m_configuration, number, alternateSetting, interfaceClass, subClass, protocol);
    if (found && found->bLength < sizeof(USB_INTERFACE_DESCRIPTOR)) return nullptr;
    return found;
}

ULONG UsbDevice::AudioPacketSize(ULONG declared) const
{
    if (m_deviceDescriptor.idVendor == MRV_VENDOR_ID && m_deviceDescriptor.idProduct == kOversizedPacketProduct)
        return kOversizedPacketSize;
    // Bits 11-12 count extra high-speed transactions, not bytes.
    return declared & kPacketSizeMask;
}

// Interfaces are addressed by index: a device numbered 0, 1, 2, 4 has four,
// the last one number 4. At most bNumInterfaces of them, and no more than
// the model's eight; a number listed twice counts once.
void UsbDevice::FindInterfaceNumbers()
{
    m_interfaceCount = 0;
    ULONG wanted = m_configuration->bNumInterfaces;
    if (wanted > kMaxInterfaces) wanted = kMaxInterfaces;
    auto* start = reinterpret_cast<const UCHAR*>(m_configuration);
    DescriptorWalk walk(start + m_configuration->bLength, start + ConfigurationLength());
    while (m_interfaceCount < wanted) {
        const UCHAR* d = walk.Next();
        if (!d) break;
        if (d[1] != DescriptorWalk::kInterface || d[0] < sizeof(USB_INTERFACE_DESCRIPTOR)) continue;
        const auto* iface = reinterpret_cast<const USB_INTERFACE_DESCRIPTOR*>(d);
        if (iface->bAlternateSetting != 0) continue;
        bool seen = false;
        for (ULONG i = 0; i < m_interfaceCount; ++i) seen = seen || m_interfaceNumbers[i] == iface->bInterfaceNumber;
        // The stack's own search must find the same interface, or the
        // request would carry a null entry.
        if (!seen && FindInterface(iface->bInterfaceNumber, 0))
            m_interfaceNumbers[m_interfaceCount++] = iface->bInterfaceNumber;
    }
}

ULONG UsbDevice::GetCurrentFrame() const
{
    ULONG frame = 0;
    if (m_usbdi && m_usbdi->QueryBusTime) m_usbdi->QueryBusTime(m_usbdi->BusContext, &frame);
    return frame;
}

NTSTATUS UsbDevice::Configure(PDEVICE_OBJECT lowerDevice)
{
    m_lowerDevice = lowerDevice;
    NTSTATUS status = GetDescriptor(USB_DEVICE_DESCRIPTOR_TYPE, 0, 0, &m_deviceDescriptor, sizeof(m_deviceDescriptor));
    if (NT_SUCCESS(status)) status = GetConfigurationDescriptor(0);
    if (NT_SUCCESS(status)) status = SelectConfiguration();

    if (!NT_SUCCESS(status)) {
        m_lowerDevice = nullptr;
        FreeConfiguration();
    }
    return status;
}

NTSTATUS UsbDevice::SelectConfiguration()
{
    FindInterfaceNumbers();
    const ULONG count = m_interfaceCount;
    auto* list = static_cast<PUSBD_INTERFACE_LIST_ENTRY>(
        AllocateBuffer((count + 1) * sizeof(USBD_INTERFACE_LIST_ENTRY)));
    if (!list) return STATUS_INSUFFICIENT_RESOURCES;

    NTSTATUS status = STATUS_SUCCESS;
    if (!FindInterface(-1, 0)) status = STATUS_INTERNAL_ERROR;
    for (ULONG i = 0; NT_SUCCESS(status) && i < count; ++i)
        list[i].InterfaceDescriptor = FindInterface(m_interfaceNumbers[i], 0);

    PURB urb = nullptr;
    if (NT_SUCCESS(status)) {
        urb = USBD_CreateConfigurationRequestEx(m_configuration, list);
        if (!urb) status = STATUS_INSUFFICIENT_RESOURCES;
    }
    if (NT_SUCCESS(status)) status = SubmitUrbSync(m_lowerDevice, urb);

    if (NT_SUCCESS(status)) {
        m_configurationHandle = urb->UrbSelectConfiguration.ConfigurationHandle;
        // The records follow one another inside the request; each one's
        // Length leads to the next, within the request's own length.
        auto* end = reinterpret_cast<PUCHAR>(urb) + urb->UrbHeader.Length;
        auto* record = reinterpret_cast<PUCHAR>(&urb->UrbSelectConfiguration.Interface);
        for (ULONG i = 0; i < count; ++i) {
            auto* info = reinterpret_cast<PUSBD_INTERFACE_INFORMATION>(record);
            if (record + FIELD_OFFSET(USBD_INTERFACE_INFORMATION, Pipes) > end || info->Length == 0 ||
                record + info->Length > end)
                break;
            // A copy that cannot be allocated leaves that interface cleared.
            if (m_interfaces[i]) m_interfaces[i]->InitFromInformation(info);
            record += info->Length;
        }
        for (ULONG i = 1; i < count; ++i) SelectInterface(i, 0);

        // The bus hands the interface out referenced; that reference is the
        // one Unconfigure gives back.
        m_usbdi = QueryUsbdiInterface(m_lowerDevice);
    }

    if (urb) ExFreePool(urb);
    FreeBuffer(list);
    return status;
}

void UsbDevice::Unconfigure()
{
    if (m_lowerDevice) {
        auto* urb = static_cast<PURB>(AllocateBuffer(sizeof(_URB_SELECT_CONFIGURATION)));
        if (urb) {
            urb->UrbHeader.Length = sizeof(_URB_SELECT_CONFIGURATION);
            urb->UrbHeader.Function = URB_FUNCTION_SELECT_CONFIGURATION;
            urb->UrbSelectConfiguration.ConfigurationDescriptor = nullptr;
            SubmitUrbSync(m_lowerDevice, urb);
            FreeBuffer(urb);
        }
    }
    if (m_usbdi) {
        if (m_usbdi->InterfaceDereference) m_usbdi->InterfaceDereference(m_usbdi->BusContext);
        FreeBuffer(m_usbdi);
        m_usbdi = nullptr;
    }
}

NTSTATUS UsbDevice::GetDescriptor(UCHAR type, UCHAR index, USHORT language, PVOID buffer, ULONG length)
{
    auto* urb = static_cast<PURB>(AllocateBuffer(sizeof(_URB_CONTROL_DESCRIPTOR_REQUEST)));
    if (!urb) return STATUS_INSUFFICIENT_RESOURCES;
    auto& request = urb->UrbControlDescriptorRequest;
    request.Hdr.Length = sizeof(_URB_CONTROL_DESCRIPTOR_REQUEST);
    request.Hdr.Function = URB_FUNCTION_GET_DESCRIPTOR_FROM_DEVICE;
    request.TransferBufferLength = length;
    request.TransferBuffer = buffer;
    request.Index = index;
    request.DescriptorType = type;
    request.LanguageId = language;
    NTSTATUS status = SubmitUrbSync(m_lowerDevice, urb);
    FreeBuffer(urb);
    return status;
}

NTSTATUS UsbDevice::GetConfigurationDescriptor(UCHAR index)
{
    FreeConfiguration();
    m_configuration = static_cast<PUSB_CONFIGURATION_DESCRIPTOR>(AllocateBuffer(sizeof(USB_CONFIGURATION_DESCRIPTOR)));
    if (!m_configuration) return STATUS_INSUFFICIENT_RESOURCES;
    NTSTATUS status = GetDescriptor(USB_CONFIGURATION_DESCRIPTOR_TYPE, index, 0, m_configuration,
                                    sizeof(USB_CONFIGURATION_DESCRIPTOR));
    if (!NT_SUCCESS(status)) return status;

    // Anything but a configuration header would have the descriptor walks
    // read other fields as its total length and interfaces.
    const bool isConfiguration = m_configuration->bDescriptorType == USB_CONFIGURATION_DESCRIPTOR_TYPE &&
                                 m_configuration->bLength >= sizeof(USB_CONFIGURATION_DESCRIPTOR);
    // The whole configuration must at least hold its own header.
    USHORT total = m_configuration->wTotalLength;
    FreeConfiguration();
    if (!isConfiguration || total < sizeof(USB_CONFIGURATION_DESCRIPTOR)) return STATUS_DEVICE_DATA_ERROR;
    m_configuration = static_cast<PUSB_CONFIGURATION_DESCRIPTOR>(AllocateBuffer(total));
    if (!m_configuration) return STATUS_INSUFFICIENT_RESOURCES;
    status = GetDescriptor(USB_CONFIGURATION_DESCRIPTOR_TYPE, index, 0, m_configuration, total);
    // A device that changed its mind between the two reads is not trusted.
    if (NT_SUCCESS(status) && m_configuration->wTotalLength != total) status = STATUS_DEVICE_DATA_ERROR;
    return status;
}

NTSTATUS UsbDevice::GetStringDescriptor(UCHAR index, PWCHAR buffer, ULONG size, USHORT language)
{
    RtlZeroMemory(buffer, size);
    auto* work = static_cast<PUCHAR>(AllocateBuffer(size));
    if (!work) return STATUS_INSUFFICIENT_RESOURCES;
    NTSTATUS status = GetDescriptor(USB_STRING_DESCRIPTOR_TYPE, index, language, work, size);
    if (NT_SUCCESS(status) && size >= 2) {
        ULONG textLength = ULONG(work[0]) >= 2 ? ULONG(work[0]) - 2 : 0;
        if (size < textLength) status = STATUS_BUFFER_OVERFLOW;
        // At least one zero character stays at the end of the caller's text.
        ULONG copy = textLength < size - 2 ? textLength : size - 2;
        RtlCopyMemory(buffer, work + 2, copy);
    }
    FreeBuffer(work);
    return status;
}

NTSTATUS UsbDevice::SelectInterface(ULONG index, UCHAR alternateSetting)
{
    if (index >= m_interfaceCount) return STATUS_INVALID_PARAMETER;
    const UCHAR number = m_interfaceNumbers[index];
    PUSB_INTERFACE_DESCRIPTOR descriptor = FindInterface(number, alternateSetting);
    if (!descriptor) return STATUS_INVALID_PARAMETER;

    const ULONG endpoints = descriptor->bNumEndpoints;
    // 16-bit arithmetic as the stack defines it: an interface without
    // endpoints still gets a request with room for the header.
    const USHORT size = static_cast<USHORT>(sizeof(_URB_SELECT_INTERFACE) +
                                            (endpoints - 1) * sizeof(USBD_PIPE_INFORMATION));
    auto* urb = static_cast<PURB>(AllocateBuffer(size));
    if (!urb) return STATUS_INSUFFICIENT_RESOURCES;

    auto& request = urb->UrbSelectInterface;
    request.Hdr.Length = size;
    request.Hdr.Function = URB_FUNCTION_SELECT_INTERFACE;
    request.ConfigurationHandle = m_configurationHandle;
    request.Interface.Length = static_cast<USHORT>(FIELD_OFFSET(USBD_INTERFACE_INFORMATION, Pipes) +
                                                   endpoints * sizeof(USBD_PIPE_INFORMATION));
    request.Interface.InterfaceNumber = number;
    request.Interface.AlternateSetting = alternateSetting;

    NTSTATUS status = STATUS_UNSUCCESSFUL;
    for (int attempt = 0; attempt < 3; ++attempt) {
        status = SubmitUrbSync(m_lowerDevice, urb);
        if (NT_SUCCESS(status)) break;
    }
    if (NT_SUCCESS(status)) {
        if (m_interfaces[index]) m_interfaces[index]->InitFromInformation(&request.Interface);
    } else if (USBD_ERROR(request.Hdr.Status)) {
        // The USB status says more than the I/O status; a request that never
        // reached the bus keeps its own failure.
        status = request.Hdr.Status;
    }
    FreeBuffer(urb);
    return status;
}
