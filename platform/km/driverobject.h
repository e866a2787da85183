// Driver objects filled in as the I/O manager fills them in: for the drivers
// it loads, and for drivers the emulation provides itself (the USB hub, a
// benchmark's stand-in filter).
#pragma once

#include <wdm.h>

namespace kmsim {

// The header, the extension's back link and the name; the caller keeps the
// extension and the name's buffer alive as long as the object.
inline void InitializeDriverObject(DRIVER_OBJECT& object, DRIVER_EXTENSION& extension, const UNICODE_STRING& name)
{
    object.Type = 4;  // IO_TYPE_DRIVER
    object.Size = sizeof(DRIVER_OBJECT);
    object.DriverExtension = &extension;
    object.DriverName = name;
    extension.DriverObject = &object;
}

// A driver of the emulation's own, every major function going to one
// dispatch routine until the owner sets others.
class BuiltInDriver {
public:
    // name: a string of static storage, such as a literal.
    BuiltInDriver(PCWSTR name, PDRIVER_DISPATCH dispatch)
    {
        UNICODE_STRING counted;
        RtlInitUnicodeString(&counted, name);
        InitializeDriverObject(m_driver, m_extension, counted);
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
