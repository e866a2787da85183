#include "urbclient.h"

#include <usbioctl.h>

namespace usbtest {

Submission::Submission(PDEVICE_OBJECT pdo, PURB urb)
{
    KeInitializeEvent(&m_event, NotificationEvent, FALSE);
    m_irp = IoBuildDeviceIoControlRequest(IOCTL_INTERNAL_USB_SUBMIT_URB, pdo, nullptr, 0, nullptr, 0,
                                          TRUE, &m_event, &m_status);
    if (!m_irp) {
        m_returned = STATUS_INSUFFICIENT_RESOURCES;
        m_done = true;
        return;
    }
    IoGetNextIrpStackLocation(m_irp)->Parameters.Others.Argument1 = urb;
    m_returned = IoCallDriver(pdo, m_irp);
    if (m_returned != STATUS_PENDING) m_done = true;
}

NTSTATUS Submission::Wait()
{
    if (m_done) return m_returned;
    KeWaitForSingleObject(&m_event, Executive, KernelMode, FALSE, nullptr);
    m_done = true;
    return m_status.Status;
}

NTSTATUS Submission::WaitFor(LONGLONG hundredNanoseconds)
{
    if (m_done) return m_returned;
    LARGE_INTEGER timeout;
    timeout.QuadPart = -hundredNanoseconds;
    if (KeWaitForSingleObject(&m_event, Executive, KernelMode, FALSE, &timeout) == STATUS_TIMEOUT)
        return STATUS_TIMEOUT;
    m_done = true;
    return m_status.Status;
}

NTSTATUS Submit(PDEVICE_OBJECT pdo, PURB urb)
{
    Submission s(pdo, urb);
    return s.Wait();
}

void BuildGetDescriptor(PURB urb, UCHAR type, UCHAR index, USHORT language, void* buffer, ULONG length)
{
    RtlZeroMemory(urb, sizeof(_URB_CONTROL_DESCRIPTOR_REQUEST));
    UsbBuildGetDescriptorRequest(urb, sizeof(_URB_CONTROL_DESCRIPTOR_REQUEST), type, index, language,
                                 buffer, nullptr, length, nullptr);
}

void BuildPipeRequest(PURB urb, USHORT function, USBD_PIPE_HANDLE pipe)
{
    RtlZeroMemory(urb, sizeof(_URB_PIPE_REQUEST));
    urb->UrbHeader.Length = sizeof(_URB_PIPE_REQUEST);
    urb->UrbHeader.Function = function;
    urb->UrbPipeRequest.PipeHandle = pipe;
}

void BuildClassEndpoint(PURB urb, UCHAR endpoint, UCHAR request, USHORT value, void* data,
                        ULONG length, bool deviceToHost)
{
    RtlZeroMemory(urb, sizeof(_URB_CONTROL_VENDOR_OR_CLASS_REQUEST));
    auto& r = urb->UrbControlVendorClassRequest;
    r.Hdr.Length = sizeof(_URB_CONTROL_VENDOR_OR_CLASS_REQUEST);
    r.Hdr.Function = URB_FUNCTION_CLASS_ENDPOINT;
    r.TransferFlags = deviceToHost ? USBD_TRANSFER_DIRECTION_IN : USBD_TRANSFER_DIRECTION_OUT;
    r.TransferBuffer = data;
    r.TransferBufferLength = length;
    r.Request = request;
    r.Value = value;
    r.Index = endpoint;
}

void BuildBulkTransfer(PURB urb, USBD_PIPE_HANDLE pipe, void* buffer, ULONG length, bool in)
{
    RtlZeroMemory(urb, sizeof(_URB_BULK_OR_INTERRUPT_TRANSFER));
    UsbBuildInterruptOrBulkTransferRequest(
        urb, sizeof(_URB_BULK_OR_INTERRUPT_TRANSFER), pipe, buffer, nullptr, length,
        in ? USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK : USBD_TRANSFER_DIRECTION_OUT,
        nullptr);
}

std::vector<uint8_t> ReadConfiguration(PDEVICE_OBJECT pdo)
{
    URB urb;
    USB_CONFIGURATION_DESCRIPTOR header{};
    BuildGetDescriptor(&urb, USB_CONFIGURATION_DESCRIPTOR_TYPE, 0, 0, &header, sizeof header);
    if (!NT_SUCCESS(Submit(pdo, &urb))) return {};
    std::vector<uint8_t> whole(header.wTotalLength);
    BuildGetDescriptor(&urb, USB_CONFIGURATION_DESCRIPTOR_TYPE, 0, 0, whole.data(), ULONG(whole.size()));
    if (!NT_SUCCESS(Submit(pdo, &urb))) return {};
    whole.resize(urb.UrbControlDescriptorRequest.TransferBufferLength);
    return whole;
}

Configuration::Configuration(PDEVICE_OBJECT pdo) : m_descriptor(ReadConfiguration(pdo))
{
    if (m_descriptor.size() < sizeof(USB_CONFIGURATION_DESCRIPTOR)) return;
    auto* config = reinterpret_cast<PUSB_CONFIGURATION_DESCRIPTOR>(m_descriptor.data());
    for (PUSB_INTERFACE_DESCRIPTOR d = USBD_ParseConfigurationDescriptorEx(config, config, -1, 0, -1, -1, -1);
         d; d = USBD_ParseConfigurationDescriptorEx(config, reinterpret_cast<PUCHAR>(d) + d->bLength, -1, 0,
                                                    -1, -1, -1))
        m_list.push_back({d, nullptr});
    m_list.push_back({nullptr, nullptr});
    m_urb = USBD_CreateConfigurationRequestEx(config, m_list.data());
    if (m_urb) m_status = Submit(pdo, m_urb);
}

Configuration::~Configuration()
{
    if (m_urb) ExFreePool(m_urb);
}

USBD_CONFIGURATION_HANDLE Configuration::Handle() const
{
    return m_urb ? m_urb->UrbSelectConfiguration.ConfigurationHandle : nullptr;
}

const USBD_INTERFACE_INFORMATION* Configuration::Interface(UCHAR number) const
{
    for (const USBD_INTERFACE_LIST_ENTRY& e : m_list)
        if (e.InterfaceDescriptor && e.InterfaceDescriptor->bInterfaceNumber == number) return e.Interface;
    return nullptr;
}

const USBD_PIPE_INFORMATION& Configuration::Pipe(UCHAR interfaceNumber, ULONG pipe) const
{
    return Interface(interfaceNumber)->Pipes[pipe];
}

UrbBuffer SelectInterfaceUrb(USBD_CONFIGURATION_HANDLE configuration, UCHAR number, UCHAR alternate,
                             ULONG pipes)
{
    const size_t size = GET_SELECT_INTERFACE_REQUEST_SIZE(pipes);
    UrbBuffer urb(size);
    UsbBuildSelectInterfaceRequest(urb.Get(), USHORT(size), configuration, number, alternate);
    return urb;
}

}  // namespace usbtest
