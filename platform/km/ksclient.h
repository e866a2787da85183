// A kernel-side client of kernel-streaming objects for tests and tools: it
// opens filters and pins and sends property, event and state requests by
// building real create, close and device-control IRPs and sending them to
// the functional device object, as user mode does.
#pragma once

#include <ks.h>

#include <memory>
#include <string>

namespace kmsim {

// A stream request in flight (IOCTL_KS_WRITE_STREAM / READ_STREAM). The
// headers and their frames stay the caller's until it completes; the
// destructor waits for completion.
class KsStreamRequest {
public:
    ~KsStreamRequest();
    KsStreamRequest(const KsStreamRequest&) = delete;
    KsStreamRequest& operator=(const KsStreamRequest&) = delete;

    bool Done();
    NTSTATUS Wait();  // the final status
    // IoCancelIrp on the request (the request keeps its IRP until waited for).
    BOOLEAN Cancel();
    ULONG_PTR Information() const { return information_; }

private:
    friend class KsClientHandle;
    KsStreamRequest() = default;
    static NTSTATUS Completed(PDEVICE_OBJECT, PIRP irp, PVOID context);

    PIRP irp_ = nullptr;
    KEVENT done_{};
    NTSTATUS status_ = STATUS_PENDING;
    ULONG_PTR information_ = 0;
};

class KsClientHandle {
public:
    // Opens the filter behind an enabled device interface's symbolic link.
    static NTSTATUS OpenFilter(const std::u16string& symbolicLink, std::unique_ptr<KsClientHandle>* filter);
    // A create request with any file name, relative to an open handle or not.
    static NTSTATUS Open(PDEVICE_OBJECT deviceObject, const std::u16string& fileName, KsClientHandle* related,
                         std::unique_ptr<KsClientHandle>* handle);

    ~KsClientHandle();
    KsClientHandle(const KsClientHandle&) = delete;
    KsClientHandle& operator=(const KsClientHandle&) = delete;

    // A pin of this filter; format holds format->FormatSize bytes.
    NTSTATUS CreatePin(const KSPIN_CONNECT& connect, const KSDATAFORMAT* format, std::unique_ptr<KsClientHandle>* pin);

    // Cleanup and close requests; the handle is unusable afterwards.
    NTSTATUS Close();
    bool IsOpen() const { return open_; }
    // Forgets the handle without a close request: its device is gone.
    void Abandon() { open_ = false; }
    PFILE_OBJECT FileObject() { return &fileObject_; }
    PDEVICE_OBJECT DeviceObject() const { return deviceObject_; }

    // METHOD_NEITHER request: in is Type3InputBuffer, out the UserBuffer.
    // *returned receives IoStatus.Information.
    NTSTATUS DeviceIoControl(ULONG ioControlCode, const void* in, ULONG inBytes, void* out, ULONG outBytes,
                             ULONG_PTR* returned = nullptr);
    NTSTATUS Property(const GUID& set, ULONG id, ULONG flags, void* data, ULONG dataBytes,
                      ULONG_PTR* returned = nullptr);
    NTSTATUS PinProperty(ULONG pinId, ULONG id, void* data, ULONG dataBytes, ULONG_PTR* returned = nullptr);
    // Queues the KSSTREAM_HEADER array (bytes long) on the pin without waiting.
    NTSTATUS SubmitStream(ULONG ioControlCode, void* headers, ULONG bytes, std::unique_ptr<KsStreamRequest>* request);
    NTSTATUS Reset(KSRESET reset);
    NTSTATUS SetState(KSSTATE state);
    NTSTATUS GetState(KSSTATE* state);
    // data names the event until it is disabled and must stay valid that long;
    // its EventHandle.Event is the PKEVENT to signal.
    NTSTATUS EnableEvent(const GUID& set, ULONG id, KSEVENTDATA* data, ULONG flags = KSEVENT_TYPE_ENABLE);
    NTSTATUS DisableEvent(KSEVENTDATA* data);

private:
    KsClientHandle() = default;

    PDEVICE_OBJECT deviceObject_ = nullptr;
    FILE_OBJECT fileObject_{};
    std::u16string fileName_;
    bool open_ = false;
};

}  // namespace kmsim
