// The device interfaces that filter factories register, for whoever plays
// the part of SetupAPI and the object manager: enumerate them by class and
// resolve a symbolic link to the device object and the name to open on it.
#pragma once

#include <wdm.h>

#include <string>
#include <vector>

namespace kmsim {

struct DeviceInterfaceRecord {
    GUID interfaceClass{};
    std::u16string symbolicLink;  // "\??\USB#VID_...#{class}\reference"
    std::u16string reference;     // the factory's reference string
    PDEVICE_OBJECT deviceObject = nullptr;  // the functional device object to open
    bool enabled = false;
};

// Every registered interface, in registration order; with a class, only
// those of that class.
std::vector<DeviceInterfaceRecord> DeviceInterfaces();
std::vector<DeviceInterfaceRecord> DeviceInterfaces(const GUID& interfaceClass);

// Finds an enabled interface by its symbolic link (case-insensitive; the
// "\??\" and "\\?\" prefixes are equivalent). Fills the device object and the
// file name a create request on it carries ("\" + reference string).
bool ResolveDeviceInterface(const std::u16string& symbolicLink, PDEVICE_OBJECT* deviceObject,
                            std::u16string* fileName);

}  // namespace kmsim
