// A kernel-side client of kernel-streaming objects for tests and tools: it
// opens filters and pins and sends property, event and state requests by
// building real create, close and device-control IRPs and sending them to
// the functional device object, as user mode does.
#pragma once

#include <ks.h>

#include <memory>
#include <string>

namespace kmsim {

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
