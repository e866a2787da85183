// The driver store: OEM packages copied into the system's INF folder as
// "oemN.inf", each with a sidecar "oemN.pnf" that records where it came
// from. For the device installer, which ranks and installs from there.
#pragma once

#include <optional>
#include <string>

namespace umsim {

// The source location SetupCopyOEMInfA recorded for a stored INF (a Windows
// or host path), or nullopt when none was recorded.
std::optional<std::string> DriverStoreSourcePath(const std::string& storedInfPath);

// Whether the path names an "oemN.inf" in the system's INF folder.
bool IsOemInf(const std::string& infPath);

}  // namespace umsim
