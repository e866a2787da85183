// mrvdevinfo: plugs a virtual Marvolan device into the emulated USB bus, lets
// the PnP manager load the driver for it, and prints what the driver built
// (the USB model, streams, MIDI endpoints and filter descriptor) and the
// filter as a client sees it.
#include "clientview.h"
#include "filterdescriptor.h"
#include "hardware/devices.h"
#include "km/ksclient.h"
#include "km/ksdevice.h"
#include "km/ksdeviceinterfaces.h"
#include "km/ksobjects.h"
#include "km/pnpmanager.h"
#include "km/registrystore.h"
#include "km/verifier.h"
#include "modelprinter.h"
#include "usb/bus.h"
#include "usb/deviceidentity.h"
#include "usbaudiodevice.h"

#include <CLI/CLI.hpp>

#include <iostream>

extern "C" NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath);

namespace {

std::u16string FriendlyName(const std::u16string& link)
{
    UNICODE_STRING name{USHORT(link.size() * 2), USHORT(link.size() * 2), const_cast<PWSTR>(link.c_str())};
    HANDLE key = nullptr;
    if (!NT_SUCCESS(IoOpenDeviceInterfaceRegistryKey(&name, KEY_READ, &key))) return u"";
    UNICODE_STRING value;
    RtlInitUnicodeString(&value, u"FriendlyName");
    alignas(8) UCHAR buffer[600] = {};
    ULONG returned = 0;
    NTSTATUS status = ZwQueryValueKey(key, &value, KeyValuePartialInformation, buffer, sizeof(buffer) - 2, &returned);
    ZwClose(key);
    if (!NT_SUCCESS(status)) return u"";
    return reinterpret_cast<const char16_t*>(reinterpret_cast<PKEY_VALUE_PARTIAL_INFORMATION>(buffer)->Data);
}

// The driver's context of the device whose stack sits on this PDO.
UsbAudioDevice* DriverContext(PDEVICE_OBJECT pdo)
{
    kmsim::ks::Device* device = kmsim::ks::DeviceOfFunctionalDeviceObject(pdo->AttachedDevice);
    return device ? static_cast<UsbAudioDevice*>(device->ks.Context) : nullptr;
}

}  // namespace

int main(int argc, char** argv)
{
    CLI::App app{"Plugs a virtual Marvolan device, loads the driver for it, and prints what the driver built and "
                 "what a client sees."};
    unsigned product = hardware::kAudioMidi;
    bool showKinetra = false;
    app.add_option("--product", product,
                   "USB product id: 0x0A, 0x0B, 0x0C, 0x0E, 0x0F, 0x10, 0x12, or any other id for the generic "
                   "class-compliant device")
        ->capture_default_str()
        ->check(CLI::Range(0u, 0xFFFFu));
    app.add_flag("--show-kinetra", showKinetra,
                 "set DontHideKinetraPorts in the driver's parameters, showing every Kinetra port");
    CLI11_PARSE(app, argc, argv);

    const std::string parameters = "\\Registry\\Machine\\System\\CurrentControlSet\\Services\\mrvusbaudio\\Parameters";
    kmsim::CreateKey(parameters);
    kmsim::SetDword(parameters, "DontHideKinetraPorts", showKinetra ? 1 : 0);

    usbsim::Bus bus;
    PDRIVER_OBJECT driver = nullptr;
    NTSTATUS status = kmsim::LoadDriver("mrvusbaudio", DriverEntry, &driver);
    if (!NT_SUCCESS(status)) {
        std::cerr << "the driver did not load: 0x" << std::hex << unsigned(status) << "\n";
        return 1;
    }
    usbsim::BusDevice& plugged = bus.Plug(hardware::MakeDevice(uint16_t(product)));
    status = kmsim::PlugDevice(driver, plugged.Pdo(), usbsim::IdentifyDevice(plugged.Device(), 1).instanceId);
    int result = 0;
    if (!NT_SUCCESS(status)) {
        std::cerr << "the device did not start: 0x" << std::hex << unsigned(status) << "\n" << kmsim::DebugOutput();
        result = 1;
    }

    if (UsbAudioDevice* device = DriverContext(plugged.Pdo())) {
        PrintUsbModel(std::cout, *device);
        PrintStreamsAndEndpoints(std::cout, *device);
        PrintFilterLayout(std::cout, *device->FilterDescriptor()->Descriptor());
    }
    auto interfaces = kmsim::DeviceInterfaces(KSCATEGORY_AUDIO);
    if (!interfaces.empty() && interfaces.back().enabled) {
        PrintPublishedInterfaces(std::cout, FriendlyName(interfaces.back().symbolicLink));
        std::unique_ptr<kmsim::KsClientHandle> filter;
        if (NT_SUCCESS(kmsim::KsClientHandle::OpenFilter(interfaces.back().symbolicLink, &filter))) {
            PrintClientView(std::cout, *filter);
            filter->Close();
        }
    }

    kmsim::UnplugDevice(plugged.Pdo());
    bus.Remove(plugged);
    kmsim::UnloadDriver(driver);
    return result;
}
