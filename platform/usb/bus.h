// The virtual USB host controller and its bus. Plugging a device creates
// its physical device object (PDO) under the bus's driver object; a
// function driver sends URBs to that PDO with IOCTL_INTERNAL_USB_SUBMIT_URB
// and asks it for the USBDI bus interface with IRP_MN_QUERY_INTERFACE.
//
// The bus owns the one clock of the virtual machine: a 32-bit frame counter
// that advances once per 1-ms frame. Tests step it by hand; tools pace it.
//
// Requests that do not complete inside IofCallDriver are completed by the
// bus's worker thread at DISPATCH_LEVEL. Every pending request carries a
// cancel routine; the worker and the cancel routine agree on ownership
// through IoSetCancelRoutine, so each IRP completes exactly once.
//
// Data transfers never complete inside IofCallDriver unless they are
// refused at once. Isochronous transfers run one packet per frame and
// complete at the end of their last frame. Bulk and interrupt transfers
// are offered to the device, oldest first per pipe, on the worker: right
// after they are handed down, after the device calls BusDevice::Wake(), and
// on every frame step; one the device does not answer stays pending until
// an abort, reset, cancel or unplug ends it. An IN pipe finishes at most
// 19 reads per frame; writes go as fast as the device takes them.
#pragma once

#include "km/driverobject.h"
#include "usb/busdevice.h"
#include "usb/isochronoustransfer.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <set>
#include <thread>

namespace usbsim {

class FramePacer;

// Data transfers seen on one endpoint of a device.
struct TransferCounts {
    ULONG submitted = 0;  // handed down on an open pipe, including those refused at once
    ULONG completed = 0;  // completed, whatever the status
    ULONG pending = 0;    // handed down and not yet completed
};

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
    // The one clock of the machine: the number of the last frame that ran.
    // Stepping is the only way it moves; the pacer is a thread that steps.
    ULONG CurrentFrame() const { return m_frame.load(); }
    // Runs the next `frames` frames one by one: each frame's packets move,
    // then the transfers that ended in it complete (and whatever their
    // completion routines submit is accepted), then pending bulk and
    // interrupt transfers are offered to their devices again. Returns when
    // all of it has happened. Called from the worker itself (a completion
    // routine) it only queues the frames.
    void StepFrames(ULONG frames);
    // Moves the clock without running the frames in between (to test the
    // counter's wrap). Transfers already scheduled keep their frames; those
    // jumped over end with their packets marked late.
    void SetCurrentFrame(ULONG frame);
    // A thread steps the clock once per 1/speed real milliseconds (0 = as
    // fast as the work allows), until StopPacing. Starting again changes
    // the speed. Throws std::invalid_argument for a negative, infinite or
    // not-a-number speed.
    void StartPacing(double speed);
    // Not from a completion routine or device hook: the pacer may be
    // waiting for the worker that runs them.
    void StopPacing();
    bool Pacing() const;

    // Waits until the worker has done everything queued to it: requests,
    // frames asked for and devices' wake-ups (requests held on purpose and
    // transfers waiting for the device stay pending).
    void Flush();
    // Requests currently pending on a device (queued, held or transfers).
    size_t PendingCount(const BusDevice& device) const;
    // Data transfers on one of the device's endpoints, by bEndpointAddress.
    TransferCounts Transfers(const BusDevice& device, UCHAR endpointAddress) const;

    PDRIVER_OBJECT DriverObject() { return m_driver.Object(); }
    std::vector<BusDevice*> Devices() const;

    // ---- IRP plumbing, called from the PDO's dispatch routines ----
    NTSTATUS SubmitUrb(BusDevice& device, PIRP irp, PURB urb);
    // Asks the worker to try the device's pending bulk and interrupt
    // transfers again (BusDevice::Wake).
    void RetryTransfers(BusDevice& device);
    void CancelPending(PIRP irp);

private:
    // Queued: the worker finishes it next (serves it or ends it with
    // `result`). Held: an injected fault keeps it. Transfer: it moves with
    // the frames and the device.
    enum class Stage { Queued, Held, Transfer };
    struct Pending {
        BusDevice* device = nullptr;
        PIRP irp = nullptr;
        PURB urb = nullptr;
        Stage stage = Stage::Queued;
        bool serve = false;  // carry the request out; else finish with `result`
        UrbResult result;
        USBD_PIPE_HANDLE pipe = nullptr;  // transfers: the pipe they wait on
        PipeEndpoint endpoint;            // transfers
        bool isochronous = false;
        IsochronousSchedule schedule;
        ULONG nextPacket = 0;  // isochronous: first packet not yet run or missed
        ULONG received = 0;  // bulk IN: bytes gathered so far
        // The cancel routine won the IRP: it is left on the list for the
        // routine to find and finish, and nobody else touches it.
        bool cancelling = false;
    };
    using PendingList = std::list<Pending>;

    // Pends the request; `admit` (under m_lock, just before the request
    // joins the list) may refuse it instead, which completes it at once.
    using Admission = std::function<std::optional<UrbResult>(Pending&)>;
    NTSTATUS MakePending(Pending pending, const Admission& admit = {});
    NTSTATUS SubmitTransfer(BusDevice& device, PIRP irp, PURB urb, const PipeEndpoint& endpoint);
    // Completes a request, and ends the transfers of a pipe it aborted.
    void Finish(BusDevice& device, PIRP irp, PURB urb, const UrbResult& result);
    // Under m_lock: takes the IRP from its cancel routine. False when the
    // routine already has it (the entry is then marked and left).
    static bool Claim(Pending& pending);
    void EndPipeTransfers(BusDevice& device, USBD_PIPE_HANDLE pipe, const UrbResult& result);
    void CountCompletion(const Pending& pending);  // under m_lock
    void WorkerLoop();
    bool WorkerHasWork() const;  // under m_lock
    // Worker steps, each entered and left with m_lock held.
    void RunQueued(std::unique_lock<std::mutex>& lock, PendingList::iterator it);
    void RunFrame(std::unique_lock<std::mutex>& lock);
    // Offers the pending bulk and interrupt transfers of `devices` (null:
    // every device) to the device, oldest first per pipe.
    void OfferTransfers(std::unique_lock<std::mutex>& lock, const std::set<BusDevice*>* devices);
    // Completes what a worker step ended, at DISPATCH_LEVEL, without locks.
    void CompleteEnded(std::vector<std::pair<Pending, UrbResult>>& ended);

    kmsim::BuiltInDriver m_driver;
    std::atomic<ULONG> m_frame{0};

    // Held by the worker while the device reads or writes a transfer's
    // buffer, and by anyone else before taking a transfer off the list, so
    // a buffer never goes back to the driver in the middle of a packet.
    // Taken before m_lock. Recursive: a completion routine on the worker
    // may cancel or abort.
    std::recursive_mutex m_transferLock;
    mutable std::mutex m_lock;  // everything below
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    PendingList m_pending;
    ULONG m_sealedFrame = 0;       // last frame whose packets are fixed
    ULONG m_framesToRun = 0;       // asked for by StepFrames
    std::set<BusDevice*> m_woken;  // devices whose transfers to offer again
    std::map<USBD_PIPE_HANDLE, ULONG> m_nextFree;  // isochronous pipes: frame after the last packet
    std::map<std::pair<const BusDevice*, UCHAR>, TransferCounts> m_counts;
    std::map<USBD_PIPE_HANDLE, ULONG> m_finishedThisFrame;  // bulk/interrupt reads, per pipe
    std::thread::id m_workerId;
    std::vector<std::unique_ptr<BusDevice>> m_devices;  // plugged and removed
    ULONG m_nextAddress = 1;
    bool m_workerBusy = false;
    bool m_stopping = false;
    DeviceCallback m_arrival;
    DeviceCallback m_departure;
    std::thread m_worker;
    mutable std::mutex m_pacerLock;
    std::unique_ptr<FramePacer> m_pacer;
};

// The bus a PDO belongs to, or null for a device object that is not one.
BusDevice* BusDeviceFromPdo(PDEVICE_OBJECT pdo);

// Opaque handles (configuration, interface, pipe) are tokens never reused
// in the process, so a stale handle can never alias a fresh one.
PVOID NewUsbHandle();

}  // namespace usbsim
