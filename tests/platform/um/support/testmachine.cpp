// The shipped driver's entry and the virtual products, for user-mode tests.
#include "testmachine.h"

#include "hardware/devices.h"
#include "hardware/marvolandevice.h"

extern "C" NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath);

namespace umtest {

void* DriverEntryOfMrvUsbAudio() { return reinterpret_cast<void*>(&DriverEntry); }

usbsim::VirtualDevice* NewProductDevice(uint16_t productId) { return hardware::MakeDevice(productId).release(); }

usbsim::VirtualDevice* NewLoopbackDevice(uint16_t productId, uint32_t delayFrames)
{
    auto device = hardware::MakeDevice(productId);
    device->LoopBackAudio(delayFrames);
    return device.release();
}

}  // namespace umtest
