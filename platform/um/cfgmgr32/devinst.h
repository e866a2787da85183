// Device instance handles (DEVINST): a number per instance id, stable for
// the process, as the configuration manager hands them out.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace umsim {

DWORD DevInstOf(const std::string& instanceId);
// The instance id of a handle given out before; nullopt for any other value.
std::optional<std::string> InstanceIdOfDevInst(DWORD devInst);

}  // namespace umsim
