// Arbitrary descriptor sets served by a virtual device: Configure and
// Enumerate must not crash, leak or trip the verifier, whatever they get.
// Input: see fuzzdescriptorset.h.
#include "fuzzdescriptorset.h"
#include "verifierabort.h"
#include "hardware/devices.h"
#include "km/registrystore.h"
#include "km/verifier.h"
#include "usb/bus.h"
#include "usbaudiodevice.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

constexpr const char* kDriverKey = "\\Registry\\Machine\\System\\CurrentControlSet\\Control\\Class\\fuzz\\0000";
constexpr const char* kDeviceKey = "\\Registry\\Machine\\System\\CurrentControlSet\\Enum\\USB\\fuzz";

RecycledBus g_buses;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    DisablePerInputLeakScan(argc, argv);
    AbortOnVerifierFindings();
    // Requests never time out here, but keep any wait short.
    kmsim::SetTimeoutScale(0.001);
    kmsim::CreateKey(kDriverKey);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2) return 0;
    usbsim::Bus& bus = g_buses.ForNextRun();
    const kmsim::PoolUsage before = kmsim::PoolOutstandingAll();

    usbsim::BusDevice& plugged = bus.Plug(hardware::MakeDeviceFromDescriptors(FuzzDescriptorSet(data, size)));
    kmsim::BindDeviceRegistryKeys(plugged.Pdo(), kDeviceKey, kDriverKey);
    KSDEVICE ksDevice{};
    ksDevice.PhysicalDeviceObject = plugged.Pdo();
    if (auto* device = new UsbAudioDevice(&ksDevice)) {
        if (NT_SUCCESS(device->Usb().Configure(plugged.Pdo()))) device->Enumerate();
        device->Remove();
        delete device;
    }
    kmsim::UnbindDeviceRegistryKeys(plugged.Pdo());
    bus.Remove(plugged);

    const kmsim::PoolUsage after = kmsim::PoolOutstandingAll();
    if (after.bytes != before.bytes || after.allocations != before.allocations) {
        std::fprintf(stderr, "pool leaked:\n%s", kmsim::PoolLeakReport().c_str());
        std::abort();
    }
    return 0;
}
