// The virtual USB host controller and its bus. Plugging a device creates
// its physical device object (PDO) under the bus's driver object; a
// function driver sends URBs to that PDO with IOCTL_INTERNAL_USB_SUBMIT_URB
// and asks it for the USBDI bus interface with IRP_MN_QUERY_INTERFACE.
//
// The bus owns the one clock of the virtual machine: a 32-bit frame counter
// that advances once per 1-ms frame. Tests step it by hand.
//
// Requests that do not complete inside IofCallDriver are completed by the
// bus's worker thread at DISPATCH_LEVEL. Every pending request carries a
// cancel routine; the worker and the cancel routine agree on ownership
// through IoSetCancelRoutine, so each IRP completes exactly once.
#pragma once

#include "usb/busdevice.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <list>
#include <thread>

namespace usbsim {

class Bus {
public:
    using DeviceCallback = std::function<void(BusDevice&)>;

    Bus();
    // Removes every device still plugged in (their pending requests complete
    // with STATUS_DEVICE_NOT_CONNECTED) and stops the worker.
    ~Bus();
    Bus(const Bus&) = delete;
    Bus& operator=(const Bus&) = delete;

    // Attaches a device: creates its PDO (stack size 1) and tells the
    // arrival handler. When the PDO cannot be created (no pool) the device
    // comes back disconnected with a null Pdo() and no arrival.
    BusDevice& Plug(std::unique_ptr<VirtualDevice> device);
    // Pulls the cable: pending and later requests complete with
    // STATUS_DEVICE_NOT_CONNECTED / USBD_STATUS_DEVICE_GONE, then the
    // departure handler runs (the PnP side tears its stack down there).
    void Unplug(BusDevice& device);
    // Unplugs if needed, waits for the device's requests to finish and
    // deletes the PDO. The BusDevice stays readable until the bus dies.
    void Remove(BusDevice& device);

    void SetArrivalHandler(DeviceCallback handler);
    void SetDepartureHandler(DeviceCallback handler);

    // ---- Frame clock ----
    // The one clock of the machine. Stepping is the only way it moves, so a
    // real-time pacer is a thread that calls StepFrames once a millisecond.
    ULONG CurrentFrame() const { return m_frame.load(); }
    void StepFrames(ULONG frames);
    void SetCurrentFrame(ULONG frame);

    // Waits until the worker has completed everything queued to it
    // (requests held on purpose stay pending).
    void Flush();
    // Requests currently pending on a device (queued or held).
    size_t PendingCount(const BusDevice& device) const;

    PDRIVER_OBJECT DriverObject() { return &m_driver; }
    std::vector<BusDevice*> Devices() const;

    // ---- IRP plumbing, called from the PDO's dispatch routines ----
    NTSTATUS SubmitUrb(BusDevice& device, PIRP irp, PURB urb);
    // Asks the worker to try the device's pending bulk and interrupt
    // transfers again (BusDevice::Wake).
    void RetryTransfers(BusDevice& device);
    void CancelPending(PIRP irp);

private:
    enum class Stage { Queued, Held };
    struct Pending {
        BusDevice* device;
        PIRP irp;
        PURB urb;
        Stage stage;
        bool serve;  // carry the request out; else finish with `result`
        UrbResult result;
        USBD_PIPE_HANDLE pipe;  // held transfers: the pipe they wait on
    };

    NTSTATUS MakePending(const Pending& pending);
    void Finish(BusDevice& device, PIRP irp, PURB urb, const UrbResult& result);
    void EndHeldTransfers(BusDevice& device, USBD_PIPE_HANDLE pipe, const UrbResult& result);
    void WorkerLoop();

    DRIVER_OBJECT m_driver{};
    DRIVER_EXTENSION m_driverExtension{};
    std::atomic<ULONG> m_frame{0};

    mutable std::mutex m_lock;  // m_pending, m_devices, worker state
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::list<Pending> m_pending;
    std::vector<std::unique_ptr<BusDevice>> m_devices;  // plugged and removed
    ULONG m_nextAddress = 1;
    bool m_workerBusy = false;
    bool m_stopping = false;
    DeviceCallback m_arrival;
    DeviceCallback m_departure;
    std::thread m_worker;
};

// The bus a PDO belongs to, or null for a device object that is not one.
BusDevice* BusDeviceFromPdo(PDEVICE_OBJECT pdo);

// Opaque handles (configuration, interface, pipe) are tokens never reused
// in the process, so a stale handle can never alias a fresh one.
PVOID NewUsbHandle();

}  // namespace usbsim
