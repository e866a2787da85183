// Device nodes: what Windows keeps of every device it has seen, under
// "\Registry\Machine\System\CurrentControlSet\Enum\<instance id>". A node
// outlives its device (a phantom once unplugged), so that a device plugged
// again finds its driver, and an installer can mark it for reinstallation.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kmsim {

constexpr char kEnumPath[] = "\\Registry\\Machine\\System\\CurrentControlSet\\Enum\\";
constexpr char kClassPath[] = "\\Registry\\Machine\\System\\CurrentControlSet\\Control\\Class\\";
constexpr char kServicesPath[] = "\\Registry\\Machine\\System\\CurrentControlSet\\Services\\";
// The MEDIA setup class, where audio drivers keep their driver keys.
constexpr char kMediaClassGuid[] = "{4d36e96c-e325-11ce-bfc1-08002be10318}";

// ConfigFlags bits the PnP manager acts on.
constexpr uint32_t kConfigFlagReinstall = 0x20;
constexpr uint32_t kConfigFlagFailedInstall = 0x40;

// Creates the node (ConfigFlags 0) or refreshes the ids of an existing one.
void RecordDeviceNode(const std::string& instanceId, const std::vector<std::string>& hardwareIds,
                      const std::vector<std::string>& compatibleIds);
std::optional<std::string> DeviceNodeString(const std::string& instanceId, const std::string& name);
uint32_t DeviceNodeConfigFlags(const std::string& instanceId);
void SetDeviceNodeConfigFlags(const std::string& instanceId, uint32_t flags);

// The node's driver key ("{class guid}\NNNN", relative to Control\Class):
// the one its "Driver" value names, else a new one under the class, taking
// the first free number, recorded in "Driver".
std::string AssignDriverKey(const std::string& instanceId, const std::string& classGuid = kMediaClassGuid);

// REG_MULTI_SZ as the store keeps it: UTF-16, a NUL after each string and
// one at the end.
std::vector<uint8_t> EncodeMultiString(const std::vector<std::string>& strings);

}  // namespace kmsim
