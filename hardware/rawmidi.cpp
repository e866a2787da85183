// Products 0x0A and 0x0F: one vendor interface carrying raw MIDI bytes on a
// bulk OUT and a bulk IN pipe.
#include "hardware/descriptorbytes.h"
#include "hardware/devices.h"

namespace hardware {

usbsim::DescriptorSet RawMidiDescriptors(uint16_t productId)
{
    const Bytes configuration = Configuration(1, {
        Interface(0, 0, 2, kClassVendor, 0),  // interface 0: vendor, 2 endpoints
        Endpoint(0x02, kBulk, 64),            // pipe 0: bulk OUT, endpoint 2
        Endpoint(0x81, kBulk, 64),            // pipe 1: bulk IN, endpoint 1
    });
    return {DeviceDescriptor(kVendorId, productId), configuration,
            MarvolanStrings(productId == kRawMidiA ? u"Marvolan M1 MIDI" : u"Marvolan M2 MIDI")};
}

}  // namespace hardware
