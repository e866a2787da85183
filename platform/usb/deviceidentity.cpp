// Device identities from the device descriptor, the serial-number string
// and the first interface descriptor. Every length is checked before use:
// the device may lie about any of them.
#include "usb/deviceidentity.h"

#include "usb/virtualdevice.h"

#include <cstdio>

namespace usbsim {
namespace {

constexpr uint16_t kEnglishUs = 0x0409;
constexpr uint8_t kStringDescriptorType = 3;
constexpr uint8_t kInterfaceDescriptorType = 4;
constexpr size_t kInterfaceDescriptorSize = 9;

// The serial-number string when Windows would accept it for an instance
// id: printable ASCII without commas, not empty; "" otherwise.
std::string UsableSerial(const VirtualDevice& device, uint8_t index)
{
    if (index == 0) return {};
    auto descriptor = device.StringDescriptor(index, kEnglishUs);
    if (!descriptor || descriptor->size() < 2) return {};
    const std::vector<uint8_t>& bytes = *descriptor;
    size_t length = bytes[0];
    if (bytes[1] != kStringDescriptorType || length > bytes.size() || length < 2 || length % 2) return {};
    std::string serial;
    for (size_t i = 2; i + 1 < length; i += 2) {
        uint16_t unit = uint16_t(bytes[i] | bytes[i + 1] << 8);
        if (unit < 0x20 || unit > 0x7E || unit == ',') return {};
        serial += char(unit);
    }
    // At most 126 characters fit a descriptor: the id stays within the 200
    // characters Windows allows.
    return serial;
}

struct ClassTriple {
    uint8_t cls = 0, subClass = 0, protocol = 0;
};

// The first interface descriptor of configuration 0, walked with each
// descriptor's length checked against what remains.
ClassTriple FirstInterfaceClass(const VirtualDevice& device)
{
    std::span<const uint8_t> config = device.ConfigurationDescriptor(0);
    size_t offset = 0;
    while (offset + 2 <= config.size()) {
        size_t length = config[offset];
        if (length < 2 || offset + length > config.size()) break;
        if (config[offset + 1] == kInterfaceDescriptorType && length >= kInterfaceDescriptorSize) {
            return {config[offset + 5], config[offset + 6], config[offset + 7]};
        }
        offset += length;
    }
    return {};
}

std::string Format(const char* format, unsigned a, unsigned b = 0, unsigned c = 0)
{
    char text[64];
    snprintf(text, sizeof text, format, a, b, c);
    return text;
}

}  // namespace

DeviceIdentity IdentifyDevice(const VirtualDevice& device, uint32_t port)
{
    std::span<const uint8_t> d = device.DeviceDescriptor();
    auto byteAt = [&](size_t i) -> unsigned { return i < d.size() ? d[i] : 0; };
    unsigned vendor = byteAt(8) | byteAt(9) << 8;
    unsigned product = byteAt(10) | byteAt(11) << 8;
    unsigned revision = byteAt(12) | byteAt(13) << 8;

    DeviceIdentity identity;
    std::string deviceId = Format("USB\\VID_%04X&PID_%04X", vendor, product);
    identity.hardwareIds = {deviceId + Format("&REV_%04X", revision), deviceId};

    ClassTriple triple{uint8_t(byteAt(4)), uint8_t(byteAt(5)), uint8_t(byteAt(6))};
    if (triple.cls == 0) triple = FirstInterfaceClass(device);
    identity.compatibleIds = {
        Format("USB\\Class_%02x&SubClass_%02x&Prot_%02x", triple.cls, triple.subClass, triple.protocol),
        Format("USB\\Class_%02x&SubClass_%02x", triple.cls, triple.subClass),
        Format("USB\\Class_%02x", triple.cls),
    };

    std::string serial = UsableSerial(device, uint8_t(byteAt(16)));
    // Windows' made-up ids carry a hash of the parent hub; one hub here.
    identity.instanceId = deviceId + "\\" + (serial.empty() ? Format("5&%x&0&%u", 0x2a1e3f07u, port) : serial);
    return identity;
}

}  // namespace usbsim
