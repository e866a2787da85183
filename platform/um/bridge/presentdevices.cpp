// Present devices and their node states. Starting and removing stacks is
// serialised by one mutex (taken first), so a restart by an installer and
// the device's removal never overlap; the table itself has a short-held
// lock of its own, so status queries never wait behind a removal.
#include "um/bridge/presentdevices.h"

#include "km/devicenodes.h"
#include "um/bridge/kernelbridge.h"
#include "um/bridge/servicedrivers.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>

namespace umsim::bridge {
namespace {

constexpr uint32_t kProblemFailedStart = 0x0A;
constexpr uint32_t kProblemFailedInstall = 0x1C;

struct PresentDevice {
    std::string instanceId;  // as plugged
    PDEVICE_OBJECT pdo = nullptr;
    DeviceNodeState state;
};

struct Table {
    std::mutex stacks;  // serialises stack starts and removals; taken before `mutex`
    std::mutex mutex;   // guards devices and pendingInstalls
    std::condition_variable installsDone;
    std::map<std::string, PresentDevice> devices;  // by upper-case instance id
    int pendingInstalls = 0;
};

Table& TheTable()
{
    static Table* table = new Table;
    return *table;
}

// Instance ids compare without case.
std::string Key(std::string id)
{
    for (char& c : id) c = char(toupper(uint8_t(c)));
    return id;
}

PDEVICE_OBJECT PdoOf(Table& table, const std::string& instanceId)
{
    std::lock_guard lock(table.mutex);
    auto it = table.devices.find(Key(instanceId));
    return it == table.devices.end() ? nullptr : it->second.pdo;
}

void SetState(Table& table, const std::string& instanceId, DeviceNodeState state)
{
    std::lock_guard lock(table.mutex);
    auto it = table.devices.find(Key(instanceId));
    if (it != table.devices.end()) it->second.state = state;
}

}  // namespace

bool AttachPresentDevice(const std::string& instanceId, PDEVICE_OBJECT pdo)
{
    Table& table = TheTable();
    std::lock_guard lock(table.mutex);
    return table.devices.emplace(Key(instanceId), PresentDevice{instanceId, pdo, {}}).second;
}

void RecordPresentDeviceStart(const std::string& instanceId, NTSTATUS status)
{
    SetState(TheTable(), instanceId,
             NT_SUCCESS(status) ? DeviceNodeState{true, 0} : DeviceNodeState{false, kProblemFailedStart});
}

void DetachPresentDevice(const std::string& instanceId, PDEVICE_OBJECT pdo, bool surprise,
                         kmsim::OpenFiles openFiles)
{
    Table& table = TheTable();
    std::lock_guard stacks(table.stacks);
    RemoveServiceStack(pdo, surprise, openFiles);
    std::lock_guard lock(table.mutex);
    auto it = table.devices.find(Key(instanceId));
    if (it != table.devices.end() && it->second.pdo == pdo) table.devices.erase(it);
}

std::optional<DeviceNodeState> PresentDeviceNode(const std::string& instanceId)
{
    Table& table = TheTable();
    std::lock_guard lock(table.mutex);
    auto it = table.devices.find(Key(instanceId));
    if (it == table.devices.end()) return std::nullopt;
    return it->second.state;
}

std::vector<std::string> PresentDeviceNodes()
{
    Table& table = TheTable();
    std::lock_guard lock(table.mutex);
    std::vector<std::string> ids;
    for (const auto& [key, device] : table.devices) ids.push_back(device.instanceId);
    return ids;
}

Status RestartDeviceNode(const std::string& instanceId)
{
    Table& table = TheTable();
    std::lock_guard stacks(table.stacks);
    PDEVICE_OBJECT pdo = PdoOf(table, instanceId);
    if (!pdo) return STATUS_NO_SUCH_DEVICE;
    // A new driver replaces the old one as on a device restart: an orderly
    // removal that waits for open handles.
    RemoveServiceStack(pdo, false, kmsim::OpenFiles::Wait);
    auto service = kmsim::DeviceNodeString(instanceId, "Service");
    NTSTATUS status = service ? StartServiceStack(pdo, instanceId, *service) : STATUS_NO_SUCH_DEVICE;
    if (!NT_SUCCESS(status) && kmsim::IsDevicePlugged(pdo)) RemoveServiceStack(pdo, false, kmsim::OpenFiles::Wait);
    SetState(table, instanceId, NT_SUCCESS(status) ? DeviceNodeState{true, 0}
                                                   : DeviceNodeState{false, service ? kProblemFailedStart
                                                                                    : kProblemFailedInstall});
    return status;
}

void MarkDeviceNodeFailedInstall(const std::string& instanceId)
{
    kmsim::SetDeviceNodeConfigFlags(instanceId,
                                    kmsim::DeviceNodeConfigFlags(instanceId) | kmsim::kConfigFlagFailedInstall);
    SetState(TheTable(), instanceId, DeviceNodeState{false, kProblemFailedInstall});
}

void BeginDeviceInstall()
{
    Table& table = TheTable();
    std::lock_guard lock(table.mutex);
    ++table.pendingInstalls;
}

void EndDeviceInstall()
{
    Table& table = TheTable();
    std::lock_guard lock(table.mutex);
    if (--table.pendingInstalls == 0) table.installsDone.notify_all();
}

bool WaitNoPendingInstalls(uint32_t timeoutMilliseconds)
{
    Table& table = TheTable();
    std::unique_lock lock(table.mutex);
    auto idle = [&] { return table.pendingInstalls == 0; };
    if (timeoutMilliseconds == 0xFFFFFFFF) {
        table.installsDone.wait(lock, idle);
        return true;
    }
    return table.installsDone.wait_for(lock, std::chrono::milliseconds(timeoutMilliseconds), idle);
}

}  // namespace umsim::bridge
