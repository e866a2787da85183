// The descriptor set a descriptor fuzz input stands for.
//
// Input: byte 0 chooses the product id low byte, byte 1 bit 0 whether the
// vendor id is forced to Marvolan's; then 18 bytes of device descriptor,
// then the configuration descriptor, the last 16 bytes (if any) doubling
// as the product string. At least 2 bytes.
#pragma once

#include "usb/bus.h"
#include "usb/descriptordevice.h"

#include <cstddef>
#include <cstdint>
#include <memory>

inline usbsim::DescriptorSet FuzzDescriptorSet(const uint8_t* data, size_t size)
{
    usbsim::DescriptorSet set;
    const uint8_t product = data[0];
    const bool forceVendor = data[1] & 1;
    data += 2;
    size -= 2;
    const size_t device = size < 18 ? size : 18;
    set.device.assign(data, data + device);
    if (set.device.size() == 18) {
        if (forceVendor) {
            set.device[8] = uint8_t(MRV_VENDOR_ID);
            set.device[9] = uint8_t(MRV_VENDOR_ID >> 8);
        }
        set.device[10] = product % 0x14;
        set.device[11] = 0;
    }
    set.configuration.assign(data + device, data + size);
    if (size - device >= 16) set.strings[2].assign(data + size - 16, data + size);
    set.strings[0] = usbsim::MakeLanguageList({0x0409});
    return set;
}

// A bus keeps its removed devices readable until it goes; a new one every
// few hundred runs keeps memory flat over millions of them.
class RecycledBus {
public:
    usbsim::Bus& ForNextRun()
    {
        if (!m_bus || ++m_runs % kRunsPerBus == 0) {
            m_bus.reset();
            m_bus = std::make_unique<usbsim::Bus>();
        }
        return *m_bus;
    }
    usbsim::Bus* Current() const { return m_bus.get(); }

private:
    static constexpr int kRunsPerBus = 500;
    std::unique_ptr<usbsim::Bus> m_bus;
    int m_runs = 0;
};
