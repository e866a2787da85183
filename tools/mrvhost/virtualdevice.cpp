#include "virtualdevice.h"

#include "hardware/devices.h"
#include "hardware/marvolandevice.h"

extern "C" NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath);

void* KernelDriverEntry() { return reinterpret_cast<void*>(&DriverEntry); }

usbsim::VirtualDevice* NewLoopedDevice(uint16_t productId, uint32_t delayFrames)
{
    auto device = hardware::MakeDevice(productId);
    device->LoopBackAudio(delayFrames);
    device->EchoMidi(true);
    return device.release();
}
