// The shipped driver's entry and the virtual products, for user-mode tests.
#include "testmachine.h"

#include "hardware/classcompliant.h"
#include "hardware/devices.h"
#include "hardware/marvolandevice.h"
#include "km/verifier.h"

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

usbsim::VirtualDevice* NewTwoRenderStreamDevice()
{
    using namespace hardware;
    const Bytes configuration = Configuration(4, {
        Join({Interface(0, 0, 0, kClassAudio, kSubClassAudioControl), AudioControlHeader({1, 2, 3})}),
        ClassCompliantStreaming(1, 0x03, {}),  // interface 1: render, iso OUT
        ClassCompliantStreaming(2, 0x05, {}),  // interface 2: render, iso OUT
        ClassCompliantStreaming(3, 0x84, {}),  // interface 3: capture, iso IN
    });
    usbsim::DescriptorSet set{DeviceDescriptor(kVendorId, kClassCompliant), configuration,
                              MarvolanStrings(u"Marvolan Two Outputs")};
    return MakeDeviceFromDescriptors(std::move(set)).release();
}

void FailNthPoolAllocation(uint64_t n) { kmsim::FailNthAllocation(n); }
void ClearPoolFaults() { kmsim::ClearPoolFaults(); }
uint64_t InjectedPoolFailures() { return kmsim::InjectedFailures(); }
uint64_t PoolAllocationCount() { return kmsim::PoolAllocationCount(); }
uint64_t PoolOutstandingBytes() { return kmsim::PoolOutstandingAll().bytes; }
std::string PoolLeakReport() { return kmsim::PoolLeakReport(); }

}  // namespace umtest
