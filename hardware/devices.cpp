#include "hardware/devices.h"

namespace hardware {

usbsim::DescriptorSet DescriptorsFor(uint16_t productId)
{
    switch (productId) {
    case kRawMidiA:
    case kRawMidiB:
        return RawMidiDescriptors(productId);
    case kClassMidiSmall:
    case kClassMidiMedium:
    case kClassMidiLarge:
        return ClassMidiDescriptors(productId);
    case kRunningStatusMidi:
        return RunningStatusMidiDescriptors();
    case kAudioMidi:
        return AudioMidiDescriptors();
    default:
        return ClassCompliantDescriptors(productId);
    }
}

std::unique_ptr<MarvolanDevice> MakeDevice(uint16_t productId)
{
    return MakeDeviceFromDescriptors(DescriptorsFor(productId));
}

std::unique_ptr<MarvolanDevice> MakeDeviceFromDescriptors(usbsim::DescriptorSet set)
{
    return std::make_unique<MarvolanDevice>(std::move(set));
}

}  // namespace hardware
