// The bus's side of one attached device: its physical device object, the
// configuration the host selected, the requests it received, and the faults
// a test asked it to show. The IRP plumbing lives in Bus.
#pragma once

#include "usb/virtualdevice.h"

#include <usbdi.h>

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace usbsim {

class Bus;

// What the bus knows of an open pipe.
struct PipeEndpoint {
    USBD_PIPE_HANDLE handle = nullptr;
    UCHAR address = 0;        // bEndpointAddress; bit 7 set for IN
    UCHAR type = 0;           // USB_ENDPOINT_TYPE_*
    USHORT maxPacketSize = 0; // bytes per packet (per frame for isochronous)

    bool In() const { return (address & 0x80) != 0; }
};

enum class CompletionMode {
    Synchronous,  // completed inside IofCallDriver
    Pending,      // STATUS_PENDING, completed later by the bus's worker thread
};

// A fault applied to one request: the nth request from now that matches
// (any function, or only `function`). One-shot.
struct RequestFault {
    enum class Action {
        Fail,              // complete at once with status / usbdStatus
        FailAfterPending,  // return STATUS_PENDING, then fail from the worker
        NeverComplete,     // stay pending until cancelled or unplugged
    };
    Action action = Action::Fail;
    ULONG nth = 1;
    std::optional<USHORT> function;
    NTSTATUS status = STATUS_UNSUCCESSFUL;
    USBD_STATUS usbdStatus = USBD_STATUS_STALL_PID;
};

// One URB as the device received it.
struct UrbRecord {
    USHORT function = 0;
    USHORT length = 0;
    // Select interface: the record's interface and alternate setting.
    // Select configuration: the first record's.
    UCHAR interfaceNumber = 0;
    UCHAR alternateSetting = 0;
    bool nullConfiguration = false;  // select configuration with no descriptor
    // Pipe requests and transfers.
    USBD_PIPE_HANDLE pipe = nullptr;
    UCHAR endpointAddress = 0;  // 0 when the handle is unknown
    // Descriptor requests.
    UCHAR descriptorType = 0;
    UCHAR descriptorIndex = 0;
    USHORT languageId = 0;
    ULONG transferLength = 0;  // as submitted
    // Isochronous transfers: as submitted (the start frame is 0 for ASAP).
    ULONG startFrame = 0;
    ULONG packets = 0;
    // Class and vendor requests.
    ULONG transferFlags = 0;
    UCHAR request = 0;
    USHORT value = 0;
    USHORT index = 0;
    std::vector<uint8_t> payload;  // host-to-device data
};

// How the bus should finish a request.
struct UrbResult {
    NTSTATUS status = STATUS_SUCCESS;
    USBD_STATUS usbdStatus = USBD_STATUS_SUCCESS;
    USBD_PIPE_HANDLE abortedPipe = nullptr;  // transfers held on it end too
    // Pipes a new configuration or alternate setting closed: what was
    // still pending on them ends as cancelled.
    std::vector<USBD_PIPE_HANDLE> closedPipes;
};

// The I/O status that goes with a USB status.
NTSTATUS NtStatusFromUsbd(USBD_STATUS status);
inline UrbResult Failure(USBD_STATUS status) { return {NtStatusFromUsbd(status), status, nullptr, {}}; }

class BusDevice {
public:
    static constexpr ULONG kAlways = 0xFFFFFFFF;

    BusDevice(Bus& bus, std::unique_ptr<VirtualDevice> device, ULONG address);
    ~BusDevice();
    BusDevice(const BusDevice&) = delete;
    BusDevice& operator=(const BusDevice&) = delete;

    Bus& HostBus() const { return m_bus; }
    PDEVICE_OBJECT Pdo() const { return m_pdo; }
    VirtualDevice& Device() const { return *m_device; }
    ULONG Address() const { return m_address; }
    USHORT VendorId() const;
    USHORT ProductId() const;
    // "USB\VID_3A1E&PID_000B", the identifier a driver package matches.
    std::string HardwareId() const;

    // ---- Behaviour ----
    // The device has something new: the bus retries this device's pending
    // bulk and interrupt transfers soon, on its worker thread. Callable from
    // any thread, including from inside the device's own hooks.
    void Wake();
    void SetCompletionMode(CompletionMode mode);
    CompletionMode Mode() const;
    // Select configuration / select interface naming this alternate setting
    // fail with USBD_STATUS_NO_BANDWIDTH, for the first `times` attempts.
    void RejectAlternateSetting(UCHAR interfaceNumber, UCHAR alternateSetting,
                                ULONG times = kAlways);
    void InjectFault(const RequestFault& fault);
    void ClearFaults();

    // ---- Observation ----
    std::vector<UrbRecord> Log() const;
    void ClearLog();
    ULONG RequestCount() const;
    ULONG RequestCount(USHORT function) const;
    bool Connected() const;
    bool Configured() const;
    // The alternate setting last selected, or nothing when the interface is
    // not part of the current configuration.
    std::optional<UCHAR> CurrentAlternateSetting(UCHAR interfaceNumber) const;
    // The device's sampling frequency control on an endpoint (read back
    // from the device), or nothing if the device has none set.
    std::optional<uint32_t> SamplingFrequency(UCHAR endpointAddress) const;
    // Outstanding references on the bus interface records handed out.
    LONG InterfaceReferences() const;

    // ---- Used by the bus ----
    // Transfer: a data transfer, moved by the frame clock and the device.
    enum class Disposition { Complete, Serve, FailAfterPending, Hold, Transfer };
    struct Decision {
        Disposition disposition = Disposition::Serve;
        UrbResult result;
    };
    // Logs the request and decides what happens to it; never touches
    // driver memory beyond what the header's Length and function allow.
    Decision Accept(URB& urb);
    // Carries out a request; sets nothing in the IRP.
    UrbResult Serve(URB& urb);
    // The pipe behind a handle of the current configuration.
    std::optional<PipeEndpoint> Endpoint(USBD_PIPE_HANDLE handle) const;
    void SetPdo(PDEVICE_OBJECT pdo) { m_pdo = pdo; }
    void MarkDisconnected();
    NTSTATUS QueryInterface(PIO_STACK_LOCATION stack);
    void Reference();
    void Dereference();

private:
    using Pipe = PipeEndpoint;
    struct Interface {
        UCHAR alternateSetting;
        USBD_INTERFACE_HANDLE handle;
        std::vector<Pipe> pipes;
    };
    struct AlternateRejection {
        UCHAR interfaceNumber;
        UCHAR alternateSetting;
        ULONG remaining;
    };

    // Under m_lock.
    std::optional<std::string> LengthProblem(const URB& urb) const;
    std::optional<std::string> StateProblem(const URB& urb) const;
    const Pipe* FindPipe(USBD_PIPE_HANDLE handle) const;
    bool ConsumeRejection(UCHAR interfaceNumber, UCHAR alternateSetting);
    std::optional<RequestFault> ConsumeFault(USHORT function);
    void Record(const URB& urb);
    // Fills one interface information record from the device's descriptors;
    // `available` bounds what may be written.
    UrbResult Describe(USBD_INTERFACE_INFORMATION& info, size_t available, Interface& out);

    UrbResult ServeDescriptor(_URB_CONTROL_DESCRIPTOR_REQUEST& request);
    UrbResult ServeSelectConfiguration(URB& urb);
    UrbResult ServeSelectInterface(_URB_SELECT_INTERFACE& request);
    UrbResult ServeControl(_URB_CONTROL_VENDOR_OR_CLASS_REQUEST& request, USHORT function);

    Bus& m_bus;
    std::unique_ptr<VirtualDevice> m_device;
    ULONG m_address;
    PDEVICE_OBJECT m_pdo = nullptr;
    // The device's configuration 0, cut to the bytes it really has and with
    // wTotalLength saying so.
    std::vector<uint8_t> m_configuration;

    mutable std::mutex m_lock;
    bool m_connected = true;
    CompletionMode m_mode = CompletionMode::Synchronous;
    std::vector<AlternateRejection> m_rejections;
    std::vector<std::pair<RequestFault, ULONG>> m_faults;  // fault, matches still to skip
    std::vector<UrbRecord> m_log;
    USBD_CONFIGURATION_HANDLE m_configurationHandle = nullptr;
    std::map<UCHAR, Interface> m_interfaces;  // by interface number
    LONG m_references = 0;
};

}  // namespace usbsim
