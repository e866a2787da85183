// Arbitrary descriptor sets served by a virtual device: Configure and
// Enumerate must not crash, leak or trip the verifier, whatever they get.
//
// Input: byte 0 chooses the product id low byte, byte 1 whether the vendor
// id is forced to Marvolan's; then 18 bytes of device descriptor, then the
// configuration descriptor, the last 16 bytes (if any) doubling as the
// product string.
#include "fuzzeroptions.h"
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
// A bus keeps its removed devices readable until it goes; start a new one
// now and then so memory stays flat over millions of runs.
constexpr int kRunsPerBus = 500;

std::unique_ptr<usbsim::Bus> g_bus;
int g_runs = 0;

usbsim::DescriptorSet MakeSet(const uint8_t* data, size_t size)
{
    usbsim::DescriptorSet set;
    const uint8_t product = data[0];
    const bool forceVendor = data[1] & 1;
    data += 2;
    size -= 2;
    const size_t device = size < 18 ? size : 18;
    set.device.assign(data, data + device);
    if (set.device.size() == 18) {
        if (forceVendor) {
            set.device[8] = uint8_t(MRV_VENDOR_ID);
            set.device[9] = uint8_t(MRV_VENDOR_ID >> 8);
        }
        set.device[10] = product % 0x14;
        set.device[11] = 0;
    }
    set.configuration.assign(data + device, data + size);
    if (size - device >= 16) set.strings[2].assign(data + size - 16, data + size);
    set.strings[0] = usbsim::MakeLanguageList({0x0409});
    return set;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    DisablePerInputLeakScan(argc, argv);
    kmsim::SetViolationHandler([](const kmsim::Violation& v) {
        std::fprintf(stderr, "verifier (%s): %s\n", v.category.c_str(), v.message.c_str());
        std::abort();
    });
    // Requests never time out here, but keep any wait short.
    kmsim::SetTimeoutScale(0.001);
    kmsim::CreateKey(kDriverKey);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2) return 0;
    if (!g_bus || ++g_runs % kRunsPerBus == 0) {
        g_bus.reset();
        g_bus = std::make_unique<usbsim::Bus>();
    }
    const kmsim::PoolUsage before = kmsim::PoolOutstandingAll();

    usbsim::BusDevice& plugged = g_bus->Plug(hardware::MakeDeviceFromDescriptors(MakeSet(data, size)));
    kmsim::BindDeviceRegistryKeys(plugged.Pdo(), kDeviceKey, kDriverKey);
    KSDEVICE ksDevice{};
    ksDevice.PhysicalDeviceObject = plugged.Pdo();
    if (auto* device = new UsbAudioDevice(&ksDevice)) {
        if (NT_SUCCESS(device->Usb().Configure(plugged.Pdo()))) device->Enumerate();
        device->Remove();
        delete device;
    }
    kmsim::UnbindDeviceRegistryKeys(plugged.Pdo());
    g_bus->Remove(plugged);

    const kmsim::PoolUsage after = kmsim::PoolOutstandingAll();
    if (after.bytes != before.bytes || after.allocations != before.allocations) {
        std::fprintf(stderr, "pool leaked:\n%s", kmsim::PoolLeakReport().c_str());
        std::abort();
    }
    return 0;
}
