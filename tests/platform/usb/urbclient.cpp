#include "urbclient.h"

#include <usbioctl.h>

namespace usbtest {

Submission::Submission(PDEVICE_OBJECT pdo, PURB urb)
{
    KeInitializeEvent(&m_event, NotificationEvent, FALSE);
    m_irp = IoAllocateIrp(pdo->StackSize, FALSE);
    if (!m_irp) {
        m_returned = m_final = STATUS_INSUFFICIENT_RESOURCES;
        m_done = true;
        return;
    }
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(m_irp);
    next->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
    next->Parameters.DeviceIoControl.IoControlCode = IOCTL_INTERNAL_USB_SUBMIT_URB;
    next->Parameters.Others.Argument1 = urb;
    IoSetCompletionRoutine(m_irp, OnComplete, this, TRUE, TRUE, TRUE);
    m_returned = IoCallDriver(pdo, m_irp);
}

Submission::~Submission()
{
    if (!m_irp) return;
    if (!m_done) {
        IoCancelIrp(m_irp);
        Wait();
    }
    IoFreeIrp(m_irp);
}

NTSTATUS Submission::OnComplete(PDEVICE_OBJECT, PIRP irp, PVOID context)
{
    auto* self = static_cast<Submission*>(context);
    self->m_final = irp->IoStatus.Status;
    KeSetEvent(&self->m_event, IO_NO_INCREMENT, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;  // the IRP is ours to free
}

NTSTATUS Submission::Wait()
{
    if (!m_done) {
        KeWaitForSingleObject(&m_event, Executive, KernelMode, FALSE, nullptr);
        m_done = true;
    }
    return m_final;
}

NTSTATUS Submission::WaitFor(LONGLONG hundredNanoseconds)
{
    if (m_done) return m_final;
    LARGE_INTEGER timeout;
    timeout.QuadPart = -hundredNanoseconds;
    if (KeWaitForSingleObject(&m_event, Executive, KernelMode, FALSE, &timeout) == STATUS_TIMEOUT)
        return STATUS_TIMEOUT;
    m_done = true;
    return m_final;
}

NTSTATUS Submit(PDEVICE_OBJECT pdo, PURB urb)
{
    // The way a driver's synchronous submit goes: an I/O-manager IRP with an
    // event, freed by the I/O manager on completion.
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    IO_STATUS_BLOCK ioStatus{};
    PIRP irp = IoBuildDeviceIoControlRequest(IOCTL_INTERNAL_USB_SUBMIT_URB, pdo, nullptr, 0, nullptr, 0,
                                             TRUE, &event, &ioStatus);
    if (!irp) return STATUS_INSUFFICIENT_RESOURCES;
    IoGetNextIrpStackLocation(irp)->Parameters.Others.Argument1 = urb;
    NTSTATUS status = IoCallDriver(pdo, irp);
    if (status == STATUS_PENDING) {
        KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);
        status = ioStatus.Status;
    }
    return status;
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
    if (!NT_SUCCESS(Submit(pdo, &urb)) ||
        urb.UrbControlDescriptorRequest.TransferBufferLength < sizeof header)
        return {};
    std::vector<uint8_t> whole(header.wTotalLength);
    BuildGetDescriptor(&urb, USB_CONFIGURATION_DESCRIPTOR_TYPE, 0, 0, whole.data(), ULONG(whole.size()));
    if (!NT_SUCCESS(Submit(pdo, &urb))) return {};
    // A device may send less than it claims: keep what came and make the
    // copy say so, so that searches over it stay inside it.
    whole.resize(urb.UrbControlDescriptorRequest.TransferBufferLength);
    if (whole.size() < sizeof(USB_CONFIGURATION_DESCRIPTOR)) return {};
    whole[2] = uint8_t(whole.size());
    whole[3] = uint8_t(whole.size() >> 8);
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
