// A virtual device on its own bus with the driver's device context built on
// it, as post-start would: for tests of the USB model and of Enumerate.
#pragma once

#include "audiostream.h"
#include "devicesettings.h"
#include "driverglobals.h"
#include "filterdescriptor.h"
#include "hardware/devices.h"
#include "km/registrystore.h"
#include "km/verifier.h"
#include "midiendpoint.h"
#include "usb/bus.h"
#include "usbaudiodevice.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

class DeviceTestBed {
public:
    static constexpr const char* kDriverKey =
        "\\Registry\\Machine\\System\\CurrentControlSet\\Control\\Class\\{4d36e96c-e325-11ce-bfc1-08002be10318}\\0042";
    static constexpr const char* kDeviceKey = "\\Registry\\Machine\\System\\CurrentControlSet\\Enum\\USB\\testbed";

    explicit DeviceTestBed(std::unique_ptr<usbsim::VirtualDevice> device)
        : m_busDevice(m_bus.Plug(std::move(device)))
    {
        kmsim::DeleteKey(kDriverKey);
        kmsim::CreateKey(kDriverKey);
        kmsim::BindDeviceRegistryKeys(Pdo(), kDeviceKey, kDriverKey);
        m_ksDevice.PhysicalDeviceObject = Pdo();
    }
    explicit DeviceTestBed(uint16_t product) : DeviceTestBed(hardware::MakeDevice(product)) {}
    explicit DeviceTestBed(usbsim::DescriptorSet set) : DeviceTestBed(hardware::MakeDeviceFromDescriptors(std::move(set))) {}

    ~DeviceTestBed()
    {
        if (m_device) {
            m_device->Remove();
            delete m_device;
        }
        kmsim::UnbindDeviceRegistryKeys(Pdo());
        m_bus.Remove(m_busDevice);
        kmsim::DeleteKey(kDriverKey);
        kmsim::SetTimeoutScale(1.0);
        DontHideKinetraPorts = 0;
    }

    // The device context as Add creates it (reads the device key).
    UsbAudioDevice& Device()
    {
        if (!m_device) m_device = new UsbAudioDevice(&m_ksDevice);
        return *m_device;
    }
    NTSTATUS Configure() { return Device().Usb().Configure(Pdo()); }
    // Configure, then Enumerate when configuration succeeded.
    NTSTATUS Start()
    {
        NTSTATUS status = Configure();
        return NT_SUCCESS(status) ? Device().Enumerate() : status;
    }

    PDEVICE_OBJECT Pdo() const { return m_busDevice.Pdo(); }
    usbsim::Bus& Bus() { return m_bus; }
    usbsim::BusDevice& Usb() { return m_busDevice; }
    const KSFILTER_DESCRIPTOR& Filter() { return *Device().FilterDescriptor()->Descriptor(); }

private:
    usbsim::Bus m_bus;
    usbsim::BusDevice& m_busDevice;
    KSDEVICE m_ksDevice{};
    UsbAudioDevice* m_device = nullptr;
};
