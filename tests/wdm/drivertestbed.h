// The driver loaded through the PnP manager with one virtual device plugged
// into the bus, and a client of its filter: the tests see what clients and
// the system see.
#pragma once

#include "hardware/devices.h"
#include "hardware/marvolandevice.h"
#include "kspinrequests.h"
#include "km/ksclient.h"
#include "km/ksdeviceinterfaces.h"
#include "km/pnpmanager.h"
#include "km/registrystore.h"
#include "km/verifier.h"
#include "usb/bus.h"

#include <ks.h>
#include <ksmedia.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

extern "C" NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath);

class DriverTestBed {
public:
    static constexpr const char* kDriverKey =
        "\\Registry\\Machine\\System\\CurrentControlSet\\Control\\Class\\{4d36e96c-e325-11ce-bfc1-08002be10318}\\0077";
    static constexpr const char* kServiceParameters =
        "\\Registry\\Machine\\System\\CurrentControlSet\\Services\\mrvusbaudio\\Parameters";

    // Every bed plugs its device under a new instance id, so that nothing a
    // test leaves in the device's or its interfaces' keys reaches another.
    DriverTestBed()
    {
        static int beds = 0;
        m_instance = "USB\\VID_3A1E&PID_TEST\\bed" + std::to_string(++beds);
        m_enumKey = "\\Registry\\Machine\\System\\CurrentControlSet\\Enum\\" + m_instance;
        kmsim::DeleteKey(kDriverKey);
        kmsim::DeleteKey(kServiceParameters);
        kmsim::CreateKey(kDriverKey);
        kmsim::CreateKey(m_enumKey);
        kmsim::CreateKey(kServiceParameters);
        kmsim::SetString(m_enumKey, "Driver", "{4d36e96c-e325-11ce-bfc1-08002be10318}\\0077");
    }

    ~DriverTestBed()
    {
        m_filters.clear();
        if (m_plugged) Unplug();
        if (m_driver) {
            EXPECT_EQ(kmsim::UnloadDriver(m_driver), STATUS_SUCCESS);
        }
        kmsim::DeleteKey(kDriverKey);
        kmsim::DeleteKey(m_enumKey);
        kmsim::DeleteKey(kServiceParameters);
        kmsim::SetTimeoutScale(1.0);
    }

    NTSTATUS Load()
    {
        return kmsim::LoadDriver("mrvusbaudio", DriverEntry, &m_driver);
    }

    // prepare runs on the bus's side of the device before the driver sees
    // it (faults, completion mode).
    NTSTATUS Plug(std::unique_ptr<usbsim::VirtualDevice> device,
                  const std::function<void(usbsim::BusDevice&)>& prepare = {})
    {
        if (!m_driver) {
            NTSTATUS status = Load();
            if (!NT_SUCCESS(status)) return status;
        }
        m_busDevice = &m_bus.Plug(std::move(device));
        if (prepare) prepare(*m_busDevice);
        m_plugged = true;
        return kmsim::PlugDevice(m_driver, m_busDevice->Pdo(), m_instance);
    }
    NTSTATUS Plug(uint16_t product) { return PlugHardware(hardware::MakeDevice(product)); }
    NTSTATUS Plug(usbsim::DescriptorSet set) { return PlugHardware(hardware::MakeDeviceFromDescriptors(std::move(set))); }
    NTSTATUS PlugHardware(std::unique_ptr<hardware::MarvolanDevice> device,
                          const std::function<void(usbsim::BusDevice&)>& prepare = {})
    {
        m_hardware = device.get();
        return Plug(std::move(device), prepare);
    }

    void Unplug()
    {
        m_filters.clear();
        kmsim::UnplugDevice(m_busDevice->Pdo());
        m_bus.Remove(*m_busDevice);
        m_plugged = false;
    }

    // The enabled interfaces of the device's filter in a category.
    std::vector<kmsim::DeviceInterfaceRecord> Interfaces(const GUID& category) const
    {
        std::vector<kmsim::DeviceInterfaceRecord> found;
        for (auto& record : kmsim::DeviceInterfaces(category))
            if (record.enabled) found.push_back(record);
        return found;
    }

    // A new client of the device's filter (opened through KSCATEGORY_AUDIO).
    kmsim::KsClientHandle* OpenFilter()
    {
        auto interfaces = Interfaces(KSCATEGORY_AUDIO);
        if (interfaces.empty()) return nullptr;
        std::unique_ptr<kmsim::KsClientHandle> filter;
        if (!NT_SUCCESS(kmsim::KsClientHandle::OpenFilter(interfaces.back().symbolicLink, &filter))) return nullptr;
        m_filters.push_back(std::move(filter));
        return m_filters.back().get();
    }

    PDRIVER_OBJECT Driver() const { return m_driver; }
    // The device behind the bus, when plugged as a Marvolan device.
    hardware::MarvolanDevice& Hardware() { return *m_hardware; }
    usbsim::Bus& Bus() { return m_bus; }
    usbsim::BusDevice& Usb() { return *m_busDevice; }
    PDEVICE_OBJECT Pdo() const { return m_busDevice->Pdo(); }

private:
    std::string m_instance;
    std::string m_enumKey;
    usbsim::Bus m_bus;
    usbsim::BusDevice* m_busDevice = nullptr;
    hardware::MarvolanDevice* m_hardware = nullptr;
    PDRIVER_OBJECT m_driver = nullptr;
    bool m_plugged = false;
    std::vector<std::unique_ptr<kmsim::KsClientHandle>> m_filters;
};
