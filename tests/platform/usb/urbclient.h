// A function driver's side of the bus for tests: builds URBs and sends them
// to a PDO the way a driver does (internal device control IRP with an
// event), so each test reads like the request it makes.
#pragma once

#include "usb/bus.h"

#include <usbdlib.h>

#include <vector>

namespace usbtest {

// A URB in zeroed storage of any size (select requests grow with pipes).
class UrbBuffer {
public:
    explicit UrbBuffer(size_t size) : m_storage((size + sizeof(uint64_t) - 1) / sizeof(uint64_t)) {}
    PURB Get() { return reinterpret_cast<PURB>(m_storage.data()); }
    PURB operator->() { return Get(); }

private:
    std::vector<uint64_t> m_storage;  // 8-byte aligned
};

// A request sent down in an IRP the test owns (as a driver's streaming
// engine does), so that cancelling it races completion safely.
class Submission {
public:
    Submission(PDEVICE_OBJECT pdo, PURB urb);
    // Cancels a request still pending, waits for it and frees the IRP.
    ~Submission();
    Submission(const Submission&) = delete;
    Submission& operator=(const Submission&) = delete;
    // IofCallDriver's return value.
    NTSTATUS Returned() const { return m_returned; }
    // Waits for completion (forever) and returns the final I/O status.
    NTSTATUS Wait();
    // Waits with a relative time-out (kernel time, subject to the time-out
    // scale); STATUS_TIMEOUT if the request is still pending.
    NTSTATUS WaitFor(LONGLONG hundredNanoseconds);
    BOOLEAN Cancel() { return IoCancelIrp(m_irp); }

private:
    static NTSTATUS OnComplete(PDEVICE_OBJECT, PIRP irp, PVOID context);

    KEVENT m_event;
    PIRP m_irp = nullptr;
    NTSTATUS m_final = STATUS_PENDING;
    NTSTATUS m_returned = STATUS_SUCCESS;
    bool m_done = false;
};

// Sends with IoBuildDeviceIoControlRequest and waits: the final I/O status.
NTSTATUS Submit(PDEVICE_OBJECT pdo, PURB urb);

void BuildGetDescriptor(PURB urb, UCHAR type, UCHAR index, USHORT language, void* buffer, ULONG length);
void BuildPipeRequest(PURB urb, USHORT function, USBD_PIPE_HANDLE pipe);
void BuildClassEndpoint(PURB urb, UCHAR endpoint, UCHAR request, USHORT value, void* data,
                        ULONG length, bool deviceToHost);
void BuildBulkTransfer(PURB urb, USBD_PIPE_HANDLE pipe, void* buffer, ULONG length, bool in);

// Reads the whole configuration descriptor from the device; its wTotalLength
// is cut to the bytes that came. Empty when not even the header came.
std::vector<uint8_t> ReadConfiguration(PDEVICE_OBJECT pdo);

// Select configuration with alternate setting 0 of every interface; owns the
// request (pool) and frees it.
class Configuration {
public:
    explicit Configuration(PDEVICE_OBJECT pdo);
    ~Configuration();
    NTSTATUS Status() const { return m_status; }
    PURB Urb() const { return m_urb; }
    USBD_CONFIGURATION_HANDLE Handle() const;
    // The interface information record the bus filled for an interface number.
    const USBD_INTERFACE_INFORMATION* Interface(UCHAR number) const;
    const USBD_PIPE_INFORMATION& Pipe(UCHAR interfaceNumber, ULONG pipe) const;

private:
    std::vector<uint8_t> m_descriptor;
    std::vector<USBD_INTERFACE_LIST_ENTRY> m_list;
    PURB m_urb = nullptr;
    NTSTATUS m_status = STATUS_UNSUCCESSFUL;
};

// A select-interface request for an interface with `pipes` endpoints.
UrbBuffer SelectInterfaceUrb(USBD_CONFIGURATION_HANDLE configuration, UCHAR number, UCHAR alternate,
                             ULONG pipes);

}  // namespace usbtest
