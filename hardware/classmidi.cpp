// Products 0x0B, 0x0C and 0x12: audio control, a class MIDI streaming
// interface (jack counts differ per model), and a vendor interface with the
// Kinetra ports (bulk OUT + IN, no class-specific descriptors).
#include "hardware/descriptorbytes.h"
#include "hardware/devices.h"

namespace hardware {

namespace {

struct Model {
    uint16_t productId;
    uint8_t jacks;  // embedded jacks per direction
    const char16_t* name;
};

constexpr Model kModels[] = {
    {kClassMidiSmall, 2, u"Marvolan Kinetra 25"},
    {kClassMidiMedium, 1, u"Marvolan Kinetra 49"},
    {kClassMidiLarge, 4, u"Marvolan Kinetra 88"},
};

}  // namespace

usbsim::DescriptorSet ClassMidiDescriptors(uint16_t productId)
{
    Model model = kModels[0];
    for (const Model& m : kModels)
        if (m.productId == productId) model = m;
    const Bytes configuration = Configuration(3, {
        Interface(0, 0, 0, kClassAudio, kSubClassAudioControl),  // interface 0: audio control
        AudioControlHeader({1}),                                 //   collection: interface 1
        MidiStreamingInterface(1, model.jacks, model.jacks, 0x01, 0x82),  // interface 1
        Interface(2, 0, 2, kClassVendor, 0),                     // interface 2: Kinetra ports
        Endpoint(0x03, kBulk, 64),                               //   pipe 0: bulk OUT
        Endpoint(0x84, kBulk, 64),                               //   pipe 1: bulk IN
    });
    return {DeviceDescriptor(kVendorId, model.productId), configuration, MarvolanStrings(model.name)};
}

}  // namespace hardware
