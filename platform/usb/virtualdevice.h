// The device behind a port of the virtual bus. It answers what a real
// device answers on the wire (descriptors, class and vendor requests) and
// knows nothing of the driver talking to it.
#pragma once

#include <usb.h>

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace usbsim {

class BusDevice;

// A class or vendor request on the default control pipe.
struct ControlRequest {
    enum class Recipient { Device, Interface, Endpoint, Other };
    enum class Kind { Class, Vendor };
    Kind kind = Kind::Class;
    Recipient recipient = Recipient::Device;
    bool deviceToHost = false;
    uint8_t request = 0;
    uint16_t value = 0;
    uint16_t index = 0;
};

class VirtualDevice {
public:
    virtual ~VirtualDevice() = default;

    // The 18-byte device descriptor (or whatever the device claims it is).
    virtual std::span<const uint8_t> DeviceDescriptor() const = 0;
    // The bytes the device returns for GET_DESCRIPTOR(configuration, index):
    // the whole set, which a faulty device may make shorter than its
    // wTotalLength. Empty for an index the device does not have.
    virtual std::span<const uint8_t> ConfigurationDescriptor(uint8_t index) const = 0;
    // A complete string descriptor, or nothing (the device stalls).
    virtual std::optional<std::vector<uint8_t>> StringDescriptor(uint8_t index,
                                                                 uint16_t language) const = 0;

    // A class or vendor request. OUT data arrives in data; IN data is
    // written there and *transferred says how much. A failure status makes
    // the bus stall the request.
    virtual USBD_STATUS Control(const ControlRequest& request, std::span<uint8_t> data,
                                ULONG* transferred) = 0;

    // The bus's record of this device, told once when it is plugged in, so
    // the device can call BusDevice::Wake() when it has new input.
    virtual void Attached(BusDevice* /*busDevice*/) {}

    // The data hooks below run on the bus's worker thread, one at a time,
    // and may call BusDevice::Wake(). Control can run at the same moment on
    // a driver's thread, so state shared with it needs the device's lock.

    // Isochronous OUT: the bytes of one packet, as the device received them in `frame`.
    virtual void IsochronousOut(UCHAR /*endpointAddress*/, ULONG /*frame*/,
                                std::span<const uint8_t> /*packet*/) {}
    // Isochronous IN: the device writes the packet it sends in `frame` (at
    // most buffer.size() bytes, the packet's room) and returns its length;
    // 0 = a zero-length packet.
    virtual ULONG IsochronousIn(UCHAR /*endpointAddress*/, ULONG /*frame*/,
                                std::span<uint8_t> /*buffer*/) { return 0; }
    // Bulk or interrupt OUT: true = the device took the bytes (the transfer
    // completes, all bytes sent); false = it does not answer now (the
    // transfer stays pending; the bus asks again after Wake() or on every
    // later frame step).
    virtual bool BulkOut(UCHAR /*endpointAddress*/, std::span<const uint8_t> /*data*/) { return true; }
    // Bulk or interrupt IN: one packet of at most buffer.size() bytes into
    // buffer. Returns its length, or nothing when the device has no packet
    // yet (the read stays pending; asked again after Wake() or on every later
    // frame step), or a failure through *status (the read completes with
    // that USBD status).
    virtual std::optional<ULONG> BulkIn(UCHAR /*endpointAddress*/, std::span<uint8_t> /*buffer*/,
                                        USBD_STATUS* /*status*/) { return std::nullopt; }
};

}  // namespace usbsim
