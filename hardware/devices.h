// The virtual Marvolan devices: a factory by product id, the odd cases
// tests need, and a device made straight from raw descriptor bytes.
#pragma once

#include "hardware/descriptorbytes.h"
#include "hardware/marvolandevice.h"

#include <memory>

namespace hardware {

constexpr uint16_t kVendorId = MRV_VENDOR_ID;

// Products the driver knows by id.
constexpr uint16_t kRawMidiA = 0x0A;           // vendor interface, raw MIDI
constexpr uint16_t kClassMidiSmall = 0x0B;     // MIDI streaming 2/2 jacks + Kinetra ports
constexpr uint16_t kClassMidiMedium = 0x0C;    // MIDI streaming 1/1 jacks + Kinetra ports
constexpr uint16_t kRunningStatusMidi = 0x0E;  // vendor interface, running-status MIDI
constexpr uint16_t kRawMidiB = 0x0F;           // vendor interface, raw MIDI
constexpr uint16_t kAudioMidi = 0x10;          // 4-out/2-in 24-bit audio + raw MIDI
constexpr uint16_t kClassMidiLarge = 0x12;     // MIDI streaming 4/4 jacks + Kinetra ports
// Any other id gets the generic class-compliant set.
constexpr uint16_t kClassCompliant = 0x0100;

// The descriptor set of a product; unknown ids get the class-compliant set.
usbsim::DescriptorSet DescriptorsFor(uint16_t productId);
// The device with its audio and MIDI behaviour (see MarvolanDevice).
std::unique_ptr<MarvolanDevice> MakeDevice(uint16_t productId);
// Any bytes at all, served as given (never read past what is supplied);
// whatever data endpoints they describe behave as on a Marvolan device.
std::unique_ptr<MarvolanDevice> MakeDeviceFromDescriptors(usbsim::DescriptorSet set);

// ---- Per-product sets (one file each) ----
usbsim::DescriptorSet RawMidiDescriptors(uint16_t productId);
usbsim::DescriptorSet ClassMidiDescriptors(uint16_t productId);
usbsim::DescriptorSet RunningStatusMidiDescriptors();
usbsim::DescriptorSet AudioMidiDescriptors();
usbsim::DescriptorSet ClassCompliantDescriptors(uint16_t productId);

// ---- Odd cases ----
// Class-compliant device whose MIDI streaming endpoints declare 1 and 3 jacks.
usbsim::DescriptorSet MidiStreamingOneAndThreeJacks();
// Class-compliant device whose first streaming interface's alternate setting 1
// has a data and a feedback pipe.
usbsim::DescriptorSet AudioStreamingWithFeedback();
// Product 0x0C laid out with interface numbers 2, 3, 4.
usbsim::DescriptorSet InterfacesNumberedFromTwo();
// No interface has an alternate setting 0.
usbsim::DescriptorSet NoAlternateSettingZero();
// One vendor interface with a single pipe (matches no rule).
usbsim::DescriptorSet VendorInterfaceWithOnePipe();
// Product 0x0B whose MIDI streaming interface is absent: index 1 is a vendor
// interface without endpoints.
usbsim::DescriptorSet ClassMidiWithoutMidiStreaming();
// Product 0x0B with a product string descriptor of exactly `bytes` bytes
// (an even number from 2 to 254), e.g. 64 or 70.
usbsim::DescriptorSet ProductStringOfLength(size_t bytes);
// Product 0x0B under another vendor.
usbsim::DescriptorSet WrongVendor(uint16_t vendorId = 0x1234);
// A single vendor interface without endpoints.
usbsim::DescriptorSet InterfaceWithoutEndpoints();
// Ten vendor interfaces of two bulk pipes each.
usbsim::DescriptorSet TenInterfaces();
// Interfaces numbered 0, 1 and 3.
usbsim::DescriptorSet NonContiguousInterfaces();
// Class-compliant set whose wTotalLength claims 20 bytes more than it has.
usbsim::DescriptorSet TotalLengthBeyondData();
// Class-compliant set with a zero-bLength descriptor after the first interface.
usbsim::DescriptorSet ZeroLengthDescriptorInside();
// Class-compliant set whose first descriptor says it is an interface, not
// the configuration.
usbsim::DescriptorSet InterfaceInPlaceOfConfiguration();

// ---- Streaming formats (streamingformats.cpp) ----
// The class-compliant set with the render endpoint's wMaxPacketSize given.
usbsim::DescriptorSet ClassCompliantWithRenderPacket(uint16_t maxPacketSize);
// Product 0x10 with its 4-channel render endpoint's wMaxPacketSize given.
usbsim::DescriptorSet AudioMidiWithRenderPacket(uint16_t maxPacketSize);
// Audio class 2.0 layout: 8-channel 24-bit render in 224-byte packets, and
// 2-channel 24-bit capture.
usbsim::DescriptorSet EightChannelSmallPackets();
// Render and capture interfaces whose alternate setting 1 is 16-bit stereo
// in 192-byte packets and alternate setting 2 24-bit stereo in 288.
usbsim::DescriptorSet SixteenThenTwentyFourBit();
// Audio and MIDI interfaces numbered 0, 1, 2, 4, 6, 7.
usbsim::DescriptorSet InterfacesNumberedWithGaps();

}  // namespace hardware
