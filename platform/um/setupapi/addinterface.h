// The AddInterface directives of a device install section's .Interfaces
// section: the device's interfaces registered under DeviceClasses, each
// interface install section run into the interface's own key (where kernel
// streaming keeps a filter's FriendlyName and CLSID).
#pragma once

#include <windows.h>
#include <setupapi.h>

#include <string>

namespace umsim {

// Lines "AddInterface={class},[reference],[install section][,flags]" of
// `interfacesSection` (a missing section has none). ERROR_INVALID_DATA
// for a class that is not a GUID in braces.
DWORD AddInterfaces(HINF inf, const std::string& infPath, const std::string& interfacesSection,
                    const std::string& instanceId);

}  // namespace umsim
