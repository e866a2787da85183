// Device installation as the PnP manager's installer runs it for a device
// node: its compatible drivers over the INF folder, the class
// co-installers asked to select the best (DIF_SELECTBESTCOMPATDRV), the
// lowest rank not marked bad installed (files, service, node values) and
// the device restarted on it. Plain C++, for the virtual machine.
#pragma once

#include <cstdint>
#include <string>

namespace umsim {

// ERROR_SUCCESS, or the Win32 error that stopped it (ERROR_NO_COMPAT_DRIVERS
// when no INF matches). *restarted (optional) is false when the driver was
// installed but the device could not be restarted on it.
uint32_t InstallDeviceNode(const std::string& instanceId, bool* restarted = nullptr);

}  // namespace umsim
