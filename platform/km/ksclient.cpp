// The kernel-side KS client: every request is an IRP through IofCallDriver.
#include "km/ksclient.h"

#include "km/kscreaterequest.h"
#include "km/ksdeviceinterfaces.h"
#include "km/kssynchronouscall.h"

namespace kmsim {
namespace {

struct Request {
    ULONG ioControlCode = 0;
    const void* in = nullptr;
    ULONG inBytes = 0;
    void* out = nullptr;
    ULONG outBytes = 0;
};

NTSTATUS SendIrp(PDEVICE_OBJECT device, PFILE_OBJECT fileObject, UCHAR major, const Request& request,
                 ULONG_PTR* returned)
{
    PIRP irp = IoAllocateIrp(device->StackSize, FALSE);
    if (!irp) return STATUS_INSUFFICIENT_RESOURCES;
    irp->RequestorMode = KernelMode;
    irp->UserBuffer = request.out;
    irp->Tail.Overlay.OriginalFileObject = fileObject;
    irp->IoStatus.Status = STATUS_SUCCESS;
    PIO_STACK_LOCATION sp = IoGetNextIrpStackLocation(irp);
    sp->MajorFunction = major;
    sp->FileObject = fileObject;
    if (major == IRP_MJ_DEVICE_CONTROL) {
        sp->Parameters.DeviceIoControl.IoControlCode = request.ioControlCode;
        sp->Parameters.DeviceIoControl.Type3InputBuffer = const_cast<void*>(request.in);
        sp->Parameters.DeviceIoControl.InputBufferLength = request.inBytes;
        sp->Parameters.DeviceIoControl.OutputBufferLength = request.outBytes;
    }
    NTSTATUS status = CallDriverSynchronously(device, irp);
    if (returned) *returned = irp->IoStatus.Information;
    IoFreeIrp(irp);
    return status;
}

}  // namespace

NTSTATUS KsClientHandle::OpenFilter(const std::u16string& symbolicLink, std::unique_ptr<KsClientHandle>* filter)
{
    PDEVICE_OBJECT device = nullptr;
    std::u16string fileName;
    if (!ResolveDeviceInterface(symbolicLink, &device, &fileName)) return STATUS_OBJECT_NAME_NOT_FOUND;
    return Open(device, fileName, nullptr, filter);
}

NTSTATUS KsClientHandle::Open(PDEVICE_OBJECT deviceObject, const std::u16string& fileName, KsClientHandle* related,
                              std::unique_ptr<KsClientHandle>* handle)
{
    handle->reset();
    if (!deviceObject) return STATUS_INVALID_PARAMETER;
    std::unique_ptr<KsClientHandle> opened(new KsClientHandle);
    opened->deviceObject_ = deviceObject;
    opened->fileName_ = fileName;
    opened->fileObject_.Type = 5;
    opened->fileObject_.Size = sizeof(FILE_OBJECT);
    opened->fileObject_.DeviceObject = deviceObject;
    opened->fileObject_.RelatedFileObject = related ? related->FileObject() : nullptr;
    opened->fileObject_.FileName.Buffer = opened->fileName_.data();
    opened->fileObject_.FileName.Length = USHORT(opened->fileName_.size() * sizeof(WCHAR));
    opened->fileObject_.FileName.MaximumLength = opened->fileObject_.FileName.Length;
    NTSTATUS status = SendIrp(deviceObject, opened->FileObject(), IRP_MJ_CREATE, Request{}, nullptr);
    if (!NT_SUCCESS(status)) return status;
    opened->open_ = true;
    *handle = std::move(opened);
    return status;
}

KsClientHandle::~KsClientHandle()
{
    if (open_) Close();
}

NTSTATUS KsClientHandle::CreatePin(const KSPIN_CONNECT& connect, const KSDATAFORMAT* format,
                                   std::unique_ptr<KsClientHandle>* pin)
{
    if (!format || format->FormatSize < sizeof(KSDATAFORMAT)) return STATUS_INVALID_PARAMETER;
    return Open(deviceObject_, ks::PinCreateFileName(connect, format), this, pin);
}

NTSTATUS KsClientHandle::Close()
{
    if (!open_) return STATUS_INVALID_HANDLE;
    SendIrp(deviceObject_, FileObject(), IRP_MJ_CLEANUP, Request{}, nullptr);
    NTSTATUS status = SendIrp(deviceObject_, FileObject(), IRP_MJ_CLOSE, Request{}, nullptr);
    open_ = false;
    return status;
}

NTSTATUS KsClientHandle::DeviceIoControl(ULONG ioControlCode, const void* in, ULONG inBytes, void* out,
                                         ULONG outBytes, ULONG_PTR* returned)
{
    if (returned) *returned = 0;
    if (!open_) return STATUS_INVALID_HANDLE;
    return SendIrp(deviceObject_, FileObject(), IRP_MJ_DEVICE_CONTROL, Request{ioControlCode, in, inBytes, out, outBytes},
                   returned);
}

NTSTATUS KsClientHandle::Property(const GUID& set, ULONG id, ULONG flags, void* data, ULONG dataBytes,
                                  ULONG_PTR* returned)
{
    KSPROPERTY property{};
    property.Set = set;
    property.Id = id;
    property.Flags = flags;
    return DeviceIoControl(IOCTL_KS_PROPERTY, &property, sizeof(property), data, dataBytes, returned);
}

NTSTATUS KsClientHandle::PinProperty(ULONG pinId, ULONG id, void* data, ULONG dataBytes, ULONG_PTR* returned)
{
    KSP_PIN property{};
    property.Property.Set = KSPROPSETID_Pin;
    property.Property.Id = id;
    property.Property.Flags = KSPROPERTY_TYPE_GET;
    property.PinId = pinId;
    return DeviceIoControl(IOCTL_KS_PROPERTY, &property, sizeof(property), data, dataBytes, returned);
}

NTSTATUS KsClientHandle::SetState(KSSTATE state)
{
    return Property(KSPROPSETID_Connection, KSPROPERTY_CONNECTION_STATE, KSPROPERTY_TYPE_SET, &state, sizeof(state));
}

NTSTATUS KsClientHandle::GetState(KSSTATE* state)
{
    return Property(KSPROPSETID_Connection, KSPROPERTY_CONNECTION_STATE, KSPROPERTY_TYPE_GET, state, sizeof(*state));
}

NTSTATUS KsClientHandle::EnableEvent(const GUID& set, ULONG id, KSEVENTDATA* data, ULONG flags)
{
    KSEVENT event{};
    event.Set = set;
    event.Id = id;
    event.Flags = flags;
    return DeviceIoControl(IOCTL_KS_ENABLE_EVENT, &event, sizeof(event), data, sizeof(*data));
}

NTSTATUS KsClientHandle::DisableEvent(KSEVENTDATA* data)
{
    return DeviceIoControl(IOCTL_KS_DISABLE_EVENT, data, sizeof(*data), nullptr, 0);
}

NTSTATUS KsStreamRequest::Completed(PDEVICE_OBJECT, PIRP irp, PVOID context)
{
    auto* request = static_cast<KsStreamRequest*>(context);
    request->status_ = irp->IoStatus.Status;
    request->information_ = irp->IoStatus.Information;
    KeSetEvent(&request->done_, IO_NO_INCREMENT, FALSE);
    // The request keeps the IRP and frees it once the waiter has seen it.
    return STATUS_MORE_PROCESSING_REQUIRED;
}

KsStreamRequest::~KsStreamRequest()
{
    Wait();
}

bool KsStreamRequest::Done() { return KeReadStateEvent(&done_) != 0; }

BOOLEAN KsStreamRequest::Cancel() { return irp_ ? IoCancelIrp(irp_) : FALSE; }

NTSTATUS KsStreamRequest::Wait()
{
    if (irp_) {
        KeWaitForSingleObject(&done_, Executive, KernelMode, FALSE, nullptr);
        IoFreeIrp(irp_);
        irp_ = nullptr;
    }
    return status_;
}

NTSTATUS KsClientHandle::SubmitStream(ULONG ioControlCode, void* headers, ULONG bytes,
                                      std::unique_ptr<KsStreamRequest>* request)
{
    request->reset();
    if (!open_) return STATUS_INVALID_HANDLE;
    std::unique_ptr<KsStreamRequest> submitted(new KsStreamRequest);
    KeInitializeEvent(&submitted->done_, NotificationEvent, FALSE);
    PIRP irp = IoAllocateIrp(deviceObject_->StackSize, FALSE);
    if (!irp) return STATUS_INSUFFICIENT_RESOURCES;
    submitted->irp_ = irp;
    irp->UserBuffer = headers;
    irp->Tail.Overlay.OriginalFileObject = FileObject();
    PIO_STACK_LOCATION sp = IoGetNextIrpStackLocation(irp);
    sp->MajorFunction = IRP_MJ_DEVICE_CONTROL;
    sp->FileObject = FileObject();
    sp->Parameters.DeviceIoControl.IoControlCode = ioControlCode;
    sp->Parameters.DeviceIoControl.OutputBufferLength = bytes;
    IoSetCompletionRoutine(irp, KsStreamRequest::Completed, submitted.get(), TRUE, TRUE, TRUE);
    NTSTATUS status = IoCallDriver(deviceObject_, irp);
    *request = std::move(submitted);
    return status;
}

NTSTATUS KsClientHandle::Reset(KSRESET reset)
{
    ULONG value = reset;
    return DeviceIoControl(IOCTL_KS_RESET_STATE, &value, sizeof(value), nullptr, 0);
}

}  // namespace kmsim
