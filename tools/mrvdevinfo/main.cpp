// mrvdevinfo: plugs a virtual Marvolan device into the emulated USB bus, lets
// the driver configure and enumerate it with its own code, and prints the
// device model and the filter layout it produced.
#include "filterdescriptor.h"
#include "hardware/devices.h"
#include "km/registrystore.h"
#include "modelprinter.h"
#include "usb/bus.h"
#include "usbaudiodevice.h"

#include <CLI/CLI.hpp>

#include <iostream>

namespace {

const char* kDriverKey = "\\Registry\\Machine\\System\\CurrentControlSet\\Control\\Class\\mrvdevinfo\\0000";
const char* kDeviceKey = "\\Registry\\Machine\\System\\CurrentControlSet\\Enum\\USB\\mrvdevinfo";

}  // namespace

int main(int argc, char** argv)
{
    CLI::App app{"Plugs a virtual Marvolan device and prints what the driver builds for it."};
    unsigned product = hardware::kAudioMidi;
    bool showHidden = false;
    app.add_option("--product", product,
                   "USB product id: 0x0A, 0x0B, 0x0C, 0x0E, 0x0F, 0x10, 0x12, or any other id for the generic "
                   "class-compliant device")
        ->capture_default_str()
        ->check(CLI::Range(0u, 0xFFFFu));
    app.add_flag("--show-kinetra", showHidden, "set DontHideKinetraPorts on the device, showing its Kinetra ports");
    CLI11_PARSE(app, argc, argv);

    usbsim::Bus bus;
    usbsim::BusDevice& plugged = bus.Plug(hardware::MakeDevice(uint16_t(product)));
    kmsim::CreateKey(kDriverKey);
    if (showHidden) kmsim::SetDword(kDriverKey, "DontHideKinetraPorts", 1);
    kmsim::BindDeviceRegistryKeys(plugged.Pdo(), kDeviceKey, kDriverKey);

    KSDEVICE ksDevice{};
    ksDevice.PhysicalDeviceObject = plugged.Pdo();
    int result = 0;
    {
        auto* device = new UsbAudioDevice(&ksDevice);
        NTSTATUS status = device ? device->Usb().Configure(plugged.Pdo()) : STATUS_INSUFFICIENT_RESOURCES;
        if (!NT_SUCCESS(status)) {
            std::cerr << "Configure failed: 0x" << std::hex << unsigned(status) << "\n";
            result = 1;
        } else {
            status = device->Enumerate();
            if (!NT_SUCCESS(status)) {
                std::cerr << "Enumerate failed: 0x" << std::hex << unsigned(status) << "\n";
                result = 1;
            }
            PrintUsbModel(std::cout, *device);
            PrintStreamsAndEndpoints(std::cout, *device);
            PrintFilterLayout(std::cout, *device->FilterDescriptor()->Descriptor());
        }
        if (device) device->Remove();
        delete device;
    }
    kmsim::UnbindDeviceRegistryKeys(plugged.Pdo());
    bus.Remove(plugged);
    return result;
}
