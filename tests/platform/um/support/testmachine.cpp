// The shipped driver's entry and the virtual products, for user-mode tests.
#include "testmachine.h"

#include "hardware/devices.h"

extern "C" NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath);

namespace umtest {

void* DriverEntryOfMrvUsbAudio() { return reinterpret_cast<void*>(&DriverEntry); }

usbsim::VirtualDevice* NewProductDevice(uint16_t productId) { return hardware::MakeDevice(productId).release(); }

}  // namespace umtest
