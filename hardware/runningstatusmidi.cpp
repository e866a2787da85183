// Product 0x0E: one vendor interface with an interrupt OUT and an interrupt
// IN pipe carrying running-status MIDI.
#include "hardware/descriptorbytes.h"
#include "hardware/devices.h"

namespace hardware {

usbsim::DescriptorSet RunningStatusMidiDescriptors()
{
    const Bytes configuration = Configuration(1, {
        Interface(0, 0, 2, kClassVendor, 0),   // interface 0: vendor, 2 endpoints
        Endpoint(0x02, kInterrupt, 8, 1),      // pipe 0: interrupt OUT, every frame
        Endpoint(0x81, kInterrupt, 8, 1),      // pipe 1: interrupt IN, every frame
    });
    return {DeviceDescriptor(kVendorId, kRunningStatusMidi), configuration,
            MarvolanStrings(u"Marvolan Tempo MIDI")};
}

}  // namespace hardware
