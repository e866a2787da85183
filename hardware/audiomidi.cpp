// Product 0x10: a vendor audio interface (alternate setting 1: 4-channel
// 24-bit render and 2-channel 24-bit capture, 49 frames a packet at most)
// and a vendor raw MIDI interface.
#include "hardware/descriptorbytes.h"
#include "hardware/devices.h"

namespace hardware {

namespace {

constexpr uint16_t kRenderPacket = 49 * 4 * 3;   // 588: 49 frames x 4 channels x 3 bytes
constexpr uint16_t kCapturePacket = 49 * 2 * 3;  // 294: 49 frames x 2 channels x 3 bytes

}  // namespace

usbsim::DescriptorSet AudioMidiDescriptors()
{
    const Bytes configuration = Configuration(2, {
        Interface(0, 0, 0, kClassVendor, 0),               // interface 0 alt 0: no bandwidth
        Interface(0, 1, 2, kClassVendor, 0),               // interface 0 alt 1: streaming
        Endpoint(0x01, kIsochronousAsync, kRenderPacket, 1),   // pipe 0: iso OUT, render
        Endpoint(0x82, kIsochronousAsync, kCapturePacket, 1),  // pipe 1: iso IN, capture
        Interface(1, 0, 2, kClassVendor, 0),               // interface 1: raw MIDI
        Endpoint(0x03, kBulk, 64),                         // pipe 0: bulk OUT
        Endpoint(0x84, kBulk, 64),                         // pipe 1: bulk IN
    });
    return {DeviceDescriptor(kVendorId, kAudioMidi), configuration, MarvolanStrings(u"Marvolan Fluxa 4")};
}

}  // namespace hardware
