// The driver object of a driver the emulation provides itself (the USB hub, a
// benchmark's stand-in filter): filled in as the I/O manager fills in one it
// loads, every major function going to one dispatch routine until the owner
// sets others.
#pragma once

#include <wdm.h>

namespace kmsim {

class BuiltInDriver {
public:
    // name: a string of static storage, such as a literal.
    BuiltInDriver(PCWSTR name, PDRIVER_DISPATCH dispatch)
    {
        m_driver.Type = 4;  // IO_TYPE_DRIVER
        m_driver.Size = sizeof(DRIVER_OBJECT);
        m_driver.DriverExtension = &m_extension;
        m_extension.DriverObject = &m_driver;
        RtlInitUnicodeString(&m_driver.DriverName, name);
        for (auto& function : m_driver.MajorFunction) function = dispatch;
    }
    BuiltInDriver(const BuiltInDriver&) = delete;
    BuiltInDriver& operator=(const BuiltInDriver&) = delete;

    PDRIVER_OBJECT Object() { return &m_driver; }

private:
    DRIVER_OBJECT m_driver{};
    DRIVER_EXTENSION m_extension{};
};

}  // namespace kmsim
