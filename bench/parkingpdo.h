// A physical device object standing in front of the bus's PDO: the driver
// is loaded on it and sends it every USB request, as it does to a PDO. It
// keeps the isochronous transfers instead of passing them on and completes
// them one at a time when asked: a USB completion on demand, so that the
// driver's whole completion path (packet sizing, serving every client,
// resubmitting) runs on the caller's thread and nothing else does. Every
// other request, PnP and power included, goes on to the bus's PDO.
#pragma once

#include <ntddk.h>
#include <usb.h>

#include "km/driverobject.h"

#include <deque>
#include <mutex>

namespace bench {

class ParkingPdo {
public:
    explicit ParkingPdo(PDEVICE_OBJECT busPdo);
    // After the device's removal, once the function driver has detached.
    ~ParkingPdo();
    ParkingPdo(const ParkingPdo&) = delete;
    ParkingPdo& operator=(const ParkingPdo&) = delete;

    // What the PnP manager is handed for the device; null if not created.
    PDEVICE_OBJECT Pdo() const { return m_device; }
    size_t Parked();
    // Completes the oldest kept transfer at DISPATCH_LEVEL with `status`
    // (every packet sent, for a success). False when none is kept.
    bool CompleteOldest(NTSTATUS status = STATUS_SUCCESS);

private:
    static NTSTATUS Dispatch(PDEVICE_OBJECT device, PIRP irp);

    kmsim::BuiltInDriver m_driver{u"\\Driver\\parking", Dispatch};
    PDEVICE_OBJECT m_device = nullptr;
    PDEVICE_OBJECT m_busPdo;
    std::mutex m_lock;
    std::deque<PIRP> m_parked;
};

}  // namespace bench
