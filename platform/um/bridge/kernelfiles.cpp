// The I/O manager's user-mode side: file objects opened on device
// interfaces and pins, device-control requests built as a user-mode caller's,
// and the cancel-and-close sequence of a handle's last close.
//
// A file object lives until its handle is closed and every file opened
// relative to it (a filter's pins) has gone, so a pin never outlives the
// RelatedFileObject the class driver reads.
#include <wdm.h>
#include <ks.h>

#include "km/irptracker.h"
#include "km/kscreaterequest.h"
#include "km/ksdeviceinterfaces.h"
#include "km/pnpmanager.h"
#include "km/utf16.h"
#include "km/verifier.h"
#include "um/bridge/kernelbridge.h"

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <set>

namespace umsim::bridge {

struct KernelFile {
    FILE_OBJECT object{};
    std::u16string name;
    PDEVICE_OBJECT device = nullptr;
    KernelFile* parent = nullptr;
    // The PnP stack held open until the close (null off any plugged stack);
    // set before the create, released at the last release.
    kmsim::DeviceStackReference* stack = nullptr;
    std::atomic<int> references{1};

    // Guards `pending`. Recursive: a cancel routine may complete the IRP on
    // the cancelling thread, whose final completion takes the lock again.
    std::recursive_mutex mutex;
    std::condition_variable_any idle;
    std::set<PIRP> pending;
};

namespace {

constexpr ULONG kUserBufferTag = kmsim::MakeTag('U', 'm', 'I', 'o');
constexpr SHORT kIoTypeFile = 5;
constexpr size_t kMaximumPinRequest = 0xFFFE - 0x100;
constexpr NTSTATUS kStatusAccessViolation = NTSTATUS(0xC0000005L);

// Waits for a request this thread sends and must see finish (create, close).
struct SyncCompletion {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    NTSTATUS status = STATUS_SUCCESS;
};

NTSTATUS CallAndWait(PDEVICE_OBJECT device, PIRP irp)
{
    SyncCompletion sync;
    kmsim::SetIrpFinalCompletion(irp, [&sync](PIRP finished) {
        NTSTATUS status = finished->IoStatus.Status;
        IoFreeIrp(finished);
        std::lock_guard lock(sync.mutex);
        sync.status = status;
        sync.finished = true;
        sync.done.notify_all();
    });
    IoCallDriver(device, irp);
    std::unique_lock lock(sync.mutex);
    sync.done.wait(lock, [&] { return sync.finished; });
    return sync.status;
}

PIRP NewIrp(KernelFile* file, UCHAR major)
{
    PIRP irp = IoAllocateIrp(file->device->StackSize, FALSE);
    if (!irp) return nullptr;
    irp->RequestorMode = UserMode;
    irp->IoStatus.Status = STATUS_SUCCESS;
    irp->IoStatus.Information = 0;
    irp->Tail.Overlay.OriginalFileObject = &file->object;
    PIO_STACK_LOCATION sp = IoGetNextIrpStackLocation(irp);
    sp->MajorFunction = major;
    sp->FileObject = &file->object;
    return irp;
}

NTSTATUS SendCreate(KernelFile* file)
{
    // Like Windows' file objects, ours keep the device's removal waiting.
    file->stack = kmsim::ReferenceDeviceStack(file->device);
    file->object.Type = kIoTypeFile;
    file->object.Size = sizeof(FILE_OBJECT);
    file->object.DeviceObject = file->device;
    file->object.FileName.Buffer = file->name.data();
    file->object.FileName.Length = USHORT(file->name.size() * sizeof(WCHAR));
    file->object.FileName.MaximumLength = USHORT(file->object.FileName.Length + sizeof(WCHAR));
    file->object.RelatedFileObject = file->parent ? &file->parent->object : nullptr;
    file->object.ReadAccess = file->object.WriteAccess = TRUE;
    PIRP irp = NewIrp(file, IRP_MJ_CREATE);
    if (!irp) {
        kmsim::DereferenceDeviceStack(file->stack);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    IoGetNextIrpStackLocation(irp)->Parameters.Create.ShareAccess = 0;
    NTSTATUS status = CallAndWait(file->device, irp);
    if (!NT_SUCCESS(status)) kmsim::DereferenceDeviceStack(file->stack);
    return status;
}

// Whether the device objects went under the file (a machine torn down
// with it open); the driver closed its side then.
bool StackGone(const KernelFile* file) { return kmsim::DeviceStackRemoved(file->stack); }

void SendSimple(KernelFile* file, UCHAR major)
{
    if (StackGone(file)) return;
    PIRP irp = NewIrp(file, major);
    if (!irp) {
        kmsim::ReportViolation("handle", "no memory for the close request of a file object; it leaks");
        return;
    }
    CallAndWait(file->device, irp);
}

void Release(KernelFile* file)
{
    while (file && --file->references == 0) {
        SendSimple(file, IRP_MJ_CLOSE);
        kmsim::DereferenceDeviceStack(file->stack);
        KernelFile* parent = file->parent;
        delete file;
        file = parent;
    }
}

}  // namespace

void ReportViolation(const std::string& category, const std::string& message)
{
    kmsim::ReportViolation(category, message);
}

Status OpenDeviceInterface(const std::string& path, KernelFile** file)
{
    *file = nullptr;
    PDEVICE_OBJECT device = nullptr;
    std::u16string name;
    if (!kmsim::ResolveDeviceInterface(kmsim::Utf8ToUtf16(path), &device, &name) || !device) {
        return STATUS_OBJECT_NAME_NOT_FOUND;
    }
    auto* opened = new KernelFile;
    opened->device = device;
    opened->name = std::move(name);
    NTSTATUS status = SendCreate(opened);
    if (!NT_SUCCESS(status)) {
        delete opened;
        return status;
    }
    *file = opened;
    return status;
}

Status OpenPin(KernelFile* filter, const void* connectAndFormat, size_t size, KernelFile** pin)
{
    *pin = nullptr;
    // The request travels in the create name, whose length is 16 bits.
    if (!filter || !connectAndFormat || size < sizeof(KSPIN_CONNECT) + sizeof(KSDATAFORMAT) ||
        size > kMaximumPinRequest) {
        return STATUS_INVALID_PARAMETER;
    }
    // The caller's block may sit anywhere; the records need their alignment.
    std::vector<uint64_t> aligned((size + 7) / 8);
    memcpy(aligned.data(), connectAndFormat, size);
    const auto* connect = reinterpret_cast<const KSPIN_CONNECT*>(aligned.data());
    const auto* format = reinterpret_cast<const KSDATAFORMAT*>(connect + 1);
    if (format->FormatSize < sizeof(KSDATAFORMAT) || format->FormatSize > size - sizeof(KSPIN_CONNECT)) {
        return STATUS_INVALID_PARAMETER;
    }
    if (StackGone(filter)) return STATUS_DEVICE_NOT_CONNECTED;
    auto* opened = new KernelFile;
    opened->device = filter->device;
    opened->name = kmsim::ks::PinCreateFileName(*connect, format);
    opened->parent = filter;
    ++filter->references;
    NTSTATUS status = SendCreate(opened);
    if (!NT_SUCCESS(status)) {
        --filter->references;
        delete opened;
        return status;
    }
    *pin = opened;
    return status;
}

bool CancelFileRequests(KernelFile* file)
{
    std::lock_guard lock(file->mutex);
    std::vector<PIRP> pending(file->pending.begin(), file->pending.end());
    for (PIRP irp : pending) {
        // The final completion removes and frees the IRP under the lock we
        // hold, so each one is still allocated here (unless the cancel of
        // an earlier one completed it on this thread); one completed on
        // another thread may be waiting for the lock to leave the list.
        if (file->pending.count(irp)) kmsim::CancelIssuedIrp(irp);
    }
    return !pending.empty();
}

// The last handle's close: cleanup first, then what is still pending is
// cancelled and waited for, and the close request goes once nothing refers
// to the file object.
void CloseFile(KernelFile* file)
{
    if (!file) return;
    SendSimple(file, IRP_MJ_CLEANUP);
    CancelFileRequests(file);
    {
        std::unique_lock lock(file->mutex);
        file->idle.wait(lock, [file] { return file->pending.empty(); });
    }
    Release(file);
}

Status DeviceControl(KernelFile* file, uint32_t code, void* input, uint32_t inputLength, void* output,
                     uint32_t outputLength, Completion done)
{
    // The I/O manager probes the caller's buffers; a null one with a length
    // would fault there.
    if ((!input && inputLength) || (!output && outputLength)) {
        done(kStatusAccessViolation, 0);
        return kStatusAccessViolation;
    }
    if (StackGone(file)) {
        done(STATUS_DEVICE_NOT_CONNECTED, 0);
        return STATUS_DEVICE_NOT_CONNECTED;
    }
    PIRP irp = NewIrp(file, IRP_MJ_DEVICE_CONTROL);
    if (!irp) {
        done(STATUS_INSUFFICIENT_RESOURCES, 0);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    PIO_STACK_LOCATION sp = IoGetNextIrpStackLocation(irp);
    sp->Parameters.DeviceIoControl.IoControlCode = code;
    sp->Parameters.DeviceIoControl.InputBufferLength = inputLength;
    sp->Parameters.DeviceIoControl.OutputBufferLength = outputLength;
    ULONG method = code & 3;
    if (method == METHOD_NEITHER) {
        sp->Parameters.DeviceIoControl.Type3InputBuffer = input;
    } else {
        ULONG length = inputLength;
        if (method == METHOD_BUFFERED && outputLength > length) length = outputLength;
        if (length) {
            PVOID buffer = ExAllocatePoolWithTag(NonPagedPool, length, kUserBufferTag);
            if (!buffer) {
                IoFreeIrp(irp);
                done(STATUS_INSUFFICIENT_RESOURCES, 0);
                return STATUS_INSUFFICIENT_RESOURCES;
            }
            RtlZeroMemory(buffer, length);
            if (inputLength) RtlCopyMemory(buffer, input, inputLength);
            irp->AssociatedIrp.SystemBuffer = buffer;
            irp->Flags = IRP_BUFFERED_IO | IRP_DEALLOCATE_BUFFER;
            if (method == METHOD_BUFFERED && outputLength) irp->Flags |= IRP_INPUT_OPERATION;
        }
    }
    irp->UserBuffer = output;

    auto finished = std::make_shared<std::atomic<bool>>(false);
    {
        std::lock_guard lock(file->mutex);
        file->pending.insert(irp);
    }
    kmsim::SetIrpFinalCompletion(irp, [file, output, outputLength, done = std::move(done), finished](PIRP irp) {
        NTSTATUS status = irp->IoStatus.Status;
        ULONG_PTR information = irp->IoStatus.Information;
        // IoFreeIrp frees the system buffer (IRP_DEALLOCATE_BUFFER).
        if ((irp->Flags & IRP_BUFFERED_IO) && (irp->Flags & IRP_INPUT_OPERATION) && !NT_ERROR(status)) {
            RtlCopyMemory(output, irp->AssociatedIrp.SystemBuffer,
                          information < outputLength ? information : outputLength);
        }
        std::lock_guard lock(file->mutex);
        file->pending.erase(irp);
        IoFreeIrp(irp);
        *finished = true;
        done(status, information);
        if (file->pending.empty()) file->idle.notify_all();
    });
    NTSTATUS status = IoCallDriver(file->device, irp);
    if (status != STATUS_PENDING && !*finished) {
        kmsim::ReportViolation("irp", "a driver returned " + std::to_string(status) +
                                          " for a device-control request without completing it");
    }
    return status;
}

}  // namespace umsim::bridge
