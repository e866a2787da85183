// A test device with one interface holding one endpoint of every data kind,
// whose data side a test scripts: isochronous IN packets made from the frame
// number, OUT packets and bulk writes recorded, bulk reads served from a
// queue the test fills.
#pragma once

#include "usb/busdevice.h"
#include "usb/descriptordevice.h"

#include <wdm.h>

#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace usbtest {

constexpr UCHAR kIsoOut = 0x01;
constexpr UCHAR kIsoIn = 0x82;
constexpr UCHAR kBulkOut = 0x03;
constexpr UCHAR kBulkIn = 0x84;
constexpr UCHAR kInterruptIn = 0x85;
constexpr USHORT kIsoPacketSize = 192;
constexpr USHORT kBulkPacketSize = 64;
constexpr USHORT kInterruptPacketSize = 8;
// Pipe order in the interface record, as the endpoints are described.
enum PipeIndex : ULONG { kIsoOutPipe, kIsoInPipe, kBulkOutPipe, kBulkInPipe, kInterruptInPipe };

struct IsoPacketSeen {
    UCHAR endpoint;
    ULONG frame;
    std::vector<uint8_t> bytes;
};

// Where and how a hook ran.
struct HookContext {
    std::thread::id thread;
    KIRQL irql;
    ULONG frame;  // the bus's clock
};

class ScriptedDevice : public usbsim::DescriptorDevice {
public:
    ScriptedDevice();

    void Attached(usbsim::BusDevice* busDevice) override;
    void IsochronousOut(UCHAR endpointAddress, ULONG frame, std::span<const uint8_t> packet) override;
    ULONG IsochronousIn(UCHAR endpointAddress, ULONG frame, std::span<uint8_t> buffer) override;
    bool BulkOut(UCHAR endpointAddress, std::span<const uint8_t> data) override;
    std::optional<ULONG> BulkIn(UCHAR endpointAddress, std::span<uint8_t> buffer,
                                USBD_STATUS* status) override;

    // ---- Script ----
    // IN packets are `length` bytes (cut to the room), each byte the low
    // byte of the frame number.
    void SetIsoInLength(ULONG length);
    // Whether bulk writes are taken; taking them again wakes the bus.
    void AcceptBulkOut(bool accept);
    // Queues a packet for an IN endpoint and wakes the bus.
    void PushIn(UCHAR endpoint, std::vector<uint8_t> packet);
    // The next read of the endpoint fails with this status (and wakes the bus).
    void FailNextIn(UCHAR endpoint, USBD_STATUS status);

    // ---- Observation ----
    std::vector<IsoPacketSeen> IsoOutSeen() const;
    std::vector<ULONG> IsoInFrames() const;
    std::vector<std::vector<uint8_t>> BulkOutSeen() const;
    ULONG BulkInAsked(UCHAR endpoint) const;
    std::vector<HookContext> Contexts() const;

private:
    void Note();  // under m_script

    mutable std::mutex m_script;
    usbsim::BusDevice* m_busDevice = nullptr;
    ULONG m_isoInLength = 0;
    bool m_acceptOut = true;
    std::map<UCHAR, std::deque<std::vector<uint8_t>>> m_inQueues;
    std::map<UCHAR, USBD_STATUS> m_inFailures;
    std::map<UCHAR, ULONG> m_inAsked;
    std::vector<IsoPacketSeen> m_isoOut;
    std::vector<ULONG> m_isoInFrames;
    std::vector<std::vector<uint8_t>> m_bulkOut;
    std::vector<HookContext> m_contexts;
};

}  // namespace usbtest
