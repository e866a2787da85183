// Descriptor sets that stress the driver's model: unusual but legal
// layouts, and faulty ones a broken or hostile device could send.
#include "hardware/classcompliant.h"
#include "hardware/devices.h"

namespace hardware {

usbsim::DescriptorSet MidiStreamingOneAndThreeJacks()
{
    const Bytes configuration = Configuration(2, {
        Interface(0, 0, 0, kClassAudio, kSubClassAudioControl),  // interface 0: audio control
        AudioControlHeader({1}),
        MidiStreamingInterface(1, 1, 3, 0x01, 0x82),  // interface 1: OUT 1 jack, IN 3 jacks
    });
    return {DeviceDescriptor(kVendorId, kClassCompliant), configuration,
            MarvolanStrings(u"Marvolan Jack Test")};
}

usbsim::DescriptorSet AudioStreamingWithFeedback()
{
    const Bytes configuration = Configuration(2, {
        ClassCompliantAudioControl(),
        // Interface 1: iso OUT data pipe plus an iso IN feedback pipe.
        ClassCompliantStreaming(1, 0x03, AudioEndpoint(0x83, kIsochronousFeedback, 3, 1)),
    });
    return {DeviceDescriptor(kVendorId, kClassCompliant), configuration,
            MarvolanStrings(u"Marvolan Feedback Test")};
}

usbsim::DescriptorSet InterfacesNumberedFromTwo()
{
    const Bytes configuration = Configuration(3, {
        Interface(2, 0, 0, kClassAudio, kSubClassAudioControl),  // interface 2: audio control
        AudioControlHeader({3}),
        MidiStreamingInterface(3, 1, 1, 0x01, 0x82),             // interface 3: MIDI streaming
        Interface(4, 0, 2, kClassVendor, 0),                     // interface 4: Kinetra ports
        Endpoint(0x03, kBulk, 64),
        Endpoint(0x84, kBulk, 64),
    });
    return {DeviceDescriptor(kVendorId, kClassMidiMedium), configuration,
            MarvolanStrings(u"Marvolan Kinetra 49")};
}

usbsim::DescriptorSet NoAlternateSettingZero()
{
    const Bytes configuration = Configuration(2, {
        Interface(0, 1, 0, kClassAudio, kSubClassAudioControl),  // interface 0, alt 1 only
        Interface(1, 1, 2, kClassVendor, 0),                     // interface 1, alt 1 only
        Endpoint(0x01, kBulk, 64),
        Endpoint(0x82, kBulk, 64),
    });
    return {DeviceDescriptor(kVendorId, kClassCompliant), configuration,
            MarvolanStrings(u"Marvolan No Alt 0")};
}

usbsim::DescriptorSet VendorInterfaceWithOnePipe()
{
    const Bytes configuration = Configuration(1, {
        Interface(0, 0, 1, kClassVendor, 0),  // interface 0: vendor, one pipe
        Endpoint(0x01, kBulk, 64),
    });
    return {DeviceDescriptor(kVendorId, kClassCompliant), configuration,
            MarvolanStrings(u"Marvolan One Pipe")};
}

usbsim::DescriptorSet ClassMidiWithoutMidiStreaming()
{
    const Bytes configuration = Configuration(3, {
        Interface(0, 0, 0, kClassAudio, kSubClassAudioControl),  // interface 0: audio control
        AudioControlHeader({}),
        Interface(1, 0, 0, kClassVendor, 0),                     // interface 1: no endpoints
        Interface(2, 0, 2, kClassVendor, 0),                     // interface 2: Kinetra ports
        Endpoint(0x03, kBulk, 64),
        Endpoint(0x84, kBulk, 64),
    });
    return {DeviceDescriptor(kVendorId, kClassMidiSmall), configuration,
            MarvolanStrings(u"Marvolan Kinetra 25")};
}

usbsim::DescriptorSet ProductStringOfLength(size_t bytes)
{
    usbsim::DescriptorSet set = ClassMidiDescriptors(kClassMidiSmall);
    // "Marvolan Kinetra 25 " repeated, cut to (bytes - 2) / 2 characters.
    std::u16string text;
    const std::u16string_view pattern = u"Marvolan Kinetra 25 ";
    while (text.size() < (bytes - 2) / 2) text.push_back(pattern[text.size() % pattern.size()]);
    set.strings[kProductString] = usbsim::MakeStringDescriptor(text);
    return set;
}

usbsim::DescriptorSet WrongVendor(uint16_t vendorId)
{
    usbsim::DescriptorSet set = ClassMidiDescriptors(kClassMidiSmall);
    set.device = DeviceDescriptor(vendorId, kClassMidiSmall);
    return set;
}

usbsim::DescriptorSet InterfaceWithoutEndpoints()
{
    const Bytes configuration = Configuration(1, {
        Interface(0, 0, 0, kClassVendor, 0),  // interface 0: vendor, no endpoints
    });
    return {DeviceDescriptor(kVendorId, kClassCompliant), configuration,
            MarvolanStrings(u"Marvolan No Endpoints")};
}

usbsim::DescriptorSet TenInterfaces()
{
    Bytes interfaces;
    for (uint8_t i = 0; i < 10; ++i) {
        const Bytes one = Join({
            Interface(i, 0, 2, kClassVendor, 0),           // interface i: vendor
            Endpoint(uint8_t(0x01 + i), kBulk, 64),        //   bulk OUT i + 1
            Endpoint(uint8_t(0x81 + i), kBulk, 64),        //   bulk IN i + 1
        });
        interfaces.insert(interfaces.end(), one.begin(), one.end());
    }
    return {DeviceDescriptor(kVendorId, kClassCompliant), Configuration(10, {interfaces}),
            MarvolanStrings(u"Marvolan Ten Interfaces")};
}

usbsim::DescriptorSet NonContiguousInterfaces()
{
    const Bytes configuration = Configuration(3, {
        Interface(0, 0, 0, kClassAudio, kSubClassAudioControl),  // interface 0
        AudioControlHeader({1}),
        MidiStreamingInterface(1, 1, 1, 0x01, 0x82),             // interface 1
        ClassCompliantVendor(3),                                 // interface 3 (no 2)
    });
    return {DeviceDescriptor(kVendorId, kClassCompliant), configuration,
            MarvolanStrings(u"Marvolan Gap Test")};
}

usbsim::DescriptorSet TotalLengthBeyondData()
{
    usbsim::DescriptorSet set = ClassCompliantDescriptors(kClassCompliant);
    const size_t claimed = set.configuration.size() + 20;
    set.configuration[2] = uint8_t(claimed);
    set.configuration[3] = uint8_t(claimed >> 8);
    return set;
}

usbsim::DescriptorSet ZeroLengthDescriptorInside()
{
    const Bytes configuration = Configuration(5, {
        ClassCompliantAudioControl(),
        Bytes{0, 0x24, 0x00},  // bLength 0: a walk must stop here
        ClassCompliantStreaming(1, 0x03, {}),
        ClassCompliantStreaming(2, 0x84, {}),
        MidiStreamingInterface(3, 1, 1, 0x05, 0x86),
        ClassCompliantVendor(4),
    });
    return {DeviceDescriptor(kVendorId, kClassCompliant), configuration,
            MarvolanStrings(u"Marvolan Zero Length")};
}

usbsim::DescriptorSet InterfaceInPlaceOfConfiguration()
{
    // The header's bytes 2-3 read as interface 0, alternate 0 where a
    // configuration keeps its wTotalLength.
    usbsim::DescriptorSet set = ClassCompliantDescriptors(kClassCompliant);
    set.configuration[1] = USB_INTERFACE_DESCRIPTOR_TYPE;
    return set;
}

}  // namespace hardware
