#include "virtualdevice.h"

#include "hardware/devices.h"
#include "hardware/marvolandevice.h"

usbsim::VirtualDevice* NewLoopedDevice(uint16_t productId, uint32_t delayFrames)
{
    auto device = hardware::MakeDevice(productId);
    device->LoopBackAudio(delayFrames);
    device->EchoMidi(true);
    return device.release();
}
