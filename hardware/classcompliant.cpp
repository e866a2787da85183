// The generic class-compliant device (any product id the driver has no
// rule for): audio control, a render and a capture streaming interface,
// class MIDI streaming, and a vendor interface with framed MIDI.
#include "hardware/classcompliant.h"

#include "hardware/devices.h"

namespace hardware {

Bytes ClassCompliantAudioControl()
{
    return Join({
        Interface(0, 0, 0, kClassAudio, kSubClassAudioControl),  // interface 0: audio control
        AudioControlHeader({1, 2, 3}),                           //   collection: 1, 2, 3
    });
}

Bytes ClassCompliantStreaming(uint8_t number, uint8_t endpointAddress, Bytes extraEndpoint,
                              uint16_t maxPacketSize)
{
    const uint8_t endpoints = extraEndpoint.empty() ? 1 : 2;
    const uint8_t attributes = (endpointAddress & 0x80) ? kIsochronousAsync : kIsochronousAdaptive;
    return Join({
        Interface(number, 0, 0, kClassAudio, kSubClassAudioStreaming),          // alt 0: idle
        Interface(number, 1, endpoints, kClassAudio, kSubClassAudioStreaming),  // alt 1: streaming
        AudioStreamingFormat(number, 2, 3, 24, {44100, 48000}),                 //   PCM 2 x 24 bit
        AudioEndpoint(endpointAddress, attributes, maxPacketSize),              //   data pipe
        AudioStreamingEndpoint(),                                               //   its CS endpoint
        extraEndpoint,
    });
}

Bytes ClassCompliantVendor(uint8_t number)
{
    return Join({
        Interface(number, 0, 2, kClassVendor, 0),  // vendor interface: framed MIDI
        Endpoint(0x07, kBulk, 64),                 //   pipe 0: bulk OUT
        Endpoint(0x88, kBulk, 64),                 //   pipe 1: bulk IN
    });
}

usbsim::DescriptorSet ClassCompliantDescriptors(uint16_t productId)
{
    const Bytes configuration = Configuration(5, {
        ClassCompliantAudioControl(),
        ClassCompliantStreaming(1, 0x03, {}),           // interface 1: render, iso OUT
        ClassCompliantStreaming(2, 0x84, {}),           // interface 2: capture, iso IN
        MidiStreamingInterface(3, 1, 1, 0x05, 0x86),    // interface 3: MIDI, 1 jack each way
        ClassCompliantVendor(4),                        // interface 4: framed MIDI
    });
    return {DeviceDescriptor(kVendorId, productId), configuration,
            MarvolanStrings(u"Marvolan Class Audio")};
}

}  // namespace hardware
