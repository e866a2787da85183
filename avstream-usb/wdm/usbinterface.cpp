#include "usbdevice.h"

ULONG UsbInterface::PipeCount() const
{
    if (!m_information) return 0;
    ULONG pipes = m_information->NumberOfPipes;
    return pipes < kMaxPipes ? pipes : kMaxPipes;
}

void UsbInterface::Clear()
{
    for (auto& endpoint : m_endpoints) {
        delete endpoint;
        endpoint = nullptr;
    }
    FreeBuffer(m_information);
    m_information = nullptr;
    m_descriptor = nullptr;
}

bool UsbInterface::InitFromInformation(const USBD_INTERFACE_INFORMATION* information)
{
    Clear();
    if (!information) return true;

    // The stack's record says how long it is; never trust more pipes than
    // the record holds or than the model has slots for.
    const ULONG length = information->Length;
    const ULONG header = FIELD_OFFSET(USBD_INTERFACE_INFORMATION, Pipes);
    ULONG pipes = information->NumberOfPipes;
    if (length < header) pipes = 0;
    else if (pipes > (length - header) / sizeof(USBD_PIPE_INFORMATION))
        pipes = (length - header) / sizeof(USBD_PIPE_INFORMATION);
    if (pipes > kMaxPipes) pipes = kMaxPipes;

    const ULONG copyLength = length < header ? header : length;
    m_information = static_cast<PUSBD_INTERFACE_INFORMATION>(AllocateBuffer(copyLength));
    if (!m_information) return false;
    RtlCopyMemory(m_information, information, length < header ? length : copyLength);
    m_information->Length = static_cast<USHORT>(copyLength);
    m_information->NumberOfPipes = pipes;

    for (ULONG i = 0; i < pipes; ++i) {
        auto* endpoint = new UsbEndpoint(this);
        m_endpoints[i] = endpoint;
        if (endpoint) endpoint->m_pipe = m_information->Pipes[i];
    }

    m_descriptor = m_parent->FindInterface(m_information->InterfaceNumber, m_information->AlternateSetting,
                                                m_information->Class, m_information->SubClass,
                                                m_information->Protocol);
    if (m_descriptor && m_descriptor->bNumEndpoints > 0) PairEndpointDescriptors();
    return true;
}

// Endpoint k holds the k-th endpoint descriptor after the interface
// descriptor.
void UsbInterface::PairEndpointDescriptors()
{
    PUSB_CONFIGURATION_DESCRIPTOR configuration = m_parent->ConfigurationDescriptor();
    const ULONG total = m_parent->ConfigurationLength();
    PVOID position = m_descriptor;
    for (ULONG k = 0; k < m_descriptor->bNumEndpoints; ++k) {
        auto* next = reinterpret_cast<PUCHAR>(position) + reinterpret_cast<PUSB_COMMON_DESCRIPTOR>(position)->bLength;
        auto* found = reinterpret_cast<PUSB_ENDPOINT_DESCRIPTOR>(
            USBD_ParseDescriptors(configuration, total, next, USB_ENDPOINT_DESCRIPTOR_TYPE));
        if (!found) break;
        // A truncated endpoint descriptor is passed over rather than read.
        if (found->bLength >= sizeof(USB_ENDPOINT_DESCRIPTOR) && k < kMaxPipes && m_endpoints[k]) m_endpoints[k]->m_descriptor = found;
        position = found;
    }
}

UsbDevice* UsbEndpoint::Device() const
{
    return m_parent->Device();
}
