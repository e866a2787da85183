// Audio streaming interfaces in the layouts real class-compliant devices
// use, and in layouts too small for what they declare: what the driver
// must stream as declared, or not at all.
#include "hardware/classcompliant.h"
#include "hardware/devices.h"

namespace hardware {

usbsim::DescriptorSet ClassCompliantWithRenderPacket(uint16_t maxPacketSize)
{
    const Bytes configuration = Configuration(5, {
        ClassCompliantAudioControl(),
        ClassCompliantStreaming(1, 0x03, {}, maxPacketSize),  // interface 1: render, iso OUT
        ClassCompliantStreaming(2, 0x84, {}),                 // interface 2: capture, iso IN
        MidiStreamingInterface(3, 1, 1, 0x05, 0x86),          // interface 3: MIDI, 1 jack each way
        ClassCompliantVendor(4),                              // interface 4: framed MIDI
    });
    return {DeviceDescriptor(kVendorId, kClassCompliant), configuration,
            MarvolanStrings(u"Marvolan Small Packets")};
}

usbsim::DescriptorSet AudioMidiWithRenderPacket(uint16_t maxPacketSize)
{
    usbsim::DescriptorSet set = AudioMidiDescriptors();
    // Interface 0 alt 1's first endpoint: configuration header (9),
    // interface 0 alt 0 (9), alt 1 (9), then the render endpoint, whose
    // wMaxPacketSize sits at bytes 4-5.
    const size_t render = 9 + 9 + 9;
    set.configuration[render + 4] = uint8_t(maxPacketSize);
    set.configuration[render + 5] = uint8_t(maxPacketSize >> 8);
    return set;
}

usbsim::DescriptorSet EightChannelSmallPackets()
{
    const Bytes configuration = Configuration(3, {
        ClassCompliantAudioControl(),
        // Interface 1: 8 x 24-bit render in 224-byte packets (9 frames).
        Interface(1, 0, 0, kClassAudio, kSubClassAudioStreaming, kAudioClass2Protocol),
        Interface(1, 1, 1, kClassAudio, kSubClassAudioStreaming, kAudioClass2Protocol),
        AudioStreamingFormat2(1, 8, 3, 24),
        AudioEndpoint(0x03, kIsochronousAdaptive, 224),
        AudioStreamingEndpoint(),
        // Interface 2: 2 x 24-bit capture that holds 49 frames a packet.
        Interface(2, 0, 0, kClassAudio, kSubClassAudioStreaming, kAudioClass2Protocol),
        Interface(2, 1, 1, kClassAudio, kSubClassAudioStreaming, kAudioClass2Protocol),
        AudioStreamingFormat2(2, 2, 3, 24),
        AudioEndpoint(0x84, kIsochronousAsync, kClassCompliantPacket),
        AudioStreamingEndpoint(),
    });
    return {DeviceDescriptor(kVendorId, kClassCompliant), configuration,
            MarvolanStrings(u"Marvolan Eight Channels")};
}

namespace {

// Alt 1: 2 x 16-bit in 192-byte packets; alt 2: 2 x 24-bit in 288.
Bytes SixteenThenTwentyFourBitStreaming(uint8_t number, uint8_t endpointAddress)
{
    const uint8_t attributes = (endpointAddress & 0x80) ? kIsochronousAsync : kIsochronousAdaptive;
    return Join({
        Interface(number, 0, 0, kClassAudio, kSubClassAudioStreaming),  // alt 0: idle
        Interface(number, 1, 1, kClassAudio, kSubClassAudioStreaming),  // alt 1: 16 bit
        AudioStreamingFormat(number, 2, 2, 16, {44100, 48000}),
        AudioEndpoint(endpointAddress, attributes, 192),
        AudioStreamingEndpoint(),
        Interface(number, 2, 1, kClassAudio, kSubClassAudioStreaming),  // alt 2: 24 bit
        AudioStreamingFormat(number, 2, 3, 24, {44100, 48000}),
        AudioEndpoint(endpointAddress, attributes, 288),
        AudioStreamingEndpoint(),
    });
}

}  // namespace

usbsim::DescriptorSet SixteenThenTwentyFourBit()
{
    const Bytes configuration = Configuration(3, {
        ClassCompliantAudioControl(),
        SixteenThenTwentyFourBitStreaming(1, 0x03),  // interface 1: render
        SixteenThenTwentyFourBitStreaming(2, 0x84),  // interface 2: capture
    });
    return {DeviceDescriptor(kVendorId, kClassCompliant), configuration,
            MarvolanStrings(u"Marvolan Two Widths")};
}

usbsim::DescriptorSet InterfacesNumberedWithGaps()
{
    const Bytes configuration = Configuration(6, {
        ClassCompliantAudioControl(),                  // interface 0: audio control
        ClassCompliantStreaming(1, 0x03, {}),          // interface 1: render
        ClassCompliantStreaming(2, 0x84, {}),          // interface 2: capture
        MidiStreamingInterface(4, 1, 1, 0x05, 0x86),   // interface 4 (no 3): MIDI
        ClassCompliantVendor(6),                       // interface 6 (no 5): framed MIDI
        MidiStreamingInterface(7, 1, 1, 0x09, 0x8A),   // interface 7: MIDI
    });
    return {DeviceDescriptor(kVendorId, kClassCompliant), configuration,
            MarvolanStrings(u"Marvolan Gaps")};
}

}  // namespace hardware
