// The names Windows gives a USB device from its descriptors: the device
// instance id ("USB\VID_3A1E&PID_0010\<serial>"), the hardware ids a driver
// package matches first and the class-based compatible ids it falls back to.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace usbsim {

class VirtualDevice;

struct DeviceIdentity {
    std::string instanceId;
    std::vector<std::string> hardwareIds;    // most specific first
    std::vector<std::string> compatibleIds;  // most specific first
};

// The identity of the device on the hub port `port` (1-based). Without a
// usable serial number the instance id is made from the port, as Windows
// does, so a device plugged into the same port again gets the same id.
DeviceIdentity IdentifyDevice(const VirtualDevice& device, uint32_t port);

}  // namespace usbsim
