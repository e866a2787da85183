// The virtual machine: a bus, a driver loaded by the PnP manager and the
// devices on the bus, started and torn down as Windows would.
#include <wdm.h>

#include "km/devicenodes.h"
#include "km/pnpmanager.h"
#include "um/bridge/kernelbridge.h"
#include "um/bridge/presentdevices.h"
#include "um/deviceinstaller.h"
#include "um/virtualmachine.h"
#include "usb/bus.h"
#include "usb/deviceidentity.h"
#include "usb/virtualdevice.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace umsim {

struct PluggedSlot {
    usbsim::BusDevice* device = nullptr;
    uint32_t port = 0;
    std::string instanceId;
};

struct VirtualMachine::State {
    usbsim::Bus bus;
    bool installed = false;                // devices matched through their nodes
    PDRIVER_OBJECT driver = nullptr;       // the one bound driver otherwise
    NTSTATUS bootStatus = STATUS_UNSUCCESSFUL;
    mutable std::mutex mutex;  // slots, nextSlot
    std::map<int, PluggedSlot> slots;
    int nextSlot = 0;
    std::thread clock;
    std::atomic<bool> clockRunning{false};
};

namespace {

// Machines alive, newest last, for user mode's clock.
std::mutex g_machinesMutex;
std::vector<const usbsim::Bus*> g_machines;  // their buses; guarded by g_machinesMutex

// The lowest port no plugged device holds, as a hub's free socket.
uint32_t FreePort(const std::map<int, PluggedSlot>& slots)
{
    for (uint32_t port = 1;; ++port) {
        bool taken = false;
        for (const auto& [slot, plugged] : slots) taken |= plugged.port == port;
        if (!taken) return port;
    }
}

}  // namespace

VirtualMachine::VirtualMachine(DriverEntryRoutine driverEntry, const std::string& serviceName)
    : m_state(std::make_unique<State>())
{
    m_state->bootStatus =
        kmsim::LoadDriver(serviceName, reinterpret_cast<PDRIVER_INITIALIZE>(driverEntry), &m_state->driver);
    if (!NT_SUCCESS(m_state->bootStatus)) m_state->driver = nullptr;
    std::lock_guard lock(g_machinesMutex);
    g_machines.push_back(&m_state->bus);
}

VirtualMachine::VirtualMachine(InstalledWindows) : m_state(std::make_unique<State>())
{
    m_state->installed = true;
    m_state->bootStatus = STATUS_SUCCESS;
    std::lock_guard lock(g_machinesMutex);
    g_machines.push_back(&m_state->bus);
}

VirtualMachine::~VirtualMachine()
{
    {
        std::lock_guard lock(g_machinesMutex);
        std::erase(g_machines, &m_state->bus);
    }
    StopClock();
    std::vector<int> slots;
    {
        std::lock_guard lock(m_state->mutex);
        for (const auto& [slot, device] : m_state->slots) slots.push_back(slot);
    }
    // Nobody is left to close handles still open now: they are reported
    // and fail from here on.
    for (int slot : slots) UnplugSlot(slot, false);
    if (m_state->driver) kmsim::UnloadDriver(m_state->driver);
}

bool VirtualMachine::Booted() const { return m_state->installed || m_state->driver != nullptr; }
int32_t VirtualMachine::BootStatus() const { return m_state->bootStatus; }

int VirtualMachine::Plug(usbsim::VirtualDevice* device, int32_t* startStatus)
{
    if (!device) return -1;
    std::unique_ptr<usbsim::VirtualDevice> owned(device);
    int slot;
    usbsim::DeviceIdentity identity;
    usbsim::BusDevice* plugged;
    {
        std::lock_guard lock(m_state->mutex);
        uint32_t port = FreePort(m_state->slots);
        identity = usbsim::IdentifyDevice(*owned, port);
        plugged = &m_state->bus.Plug(std::move(owned));
        slot = m_state->nextSlot++;
        m_state->slots[slot] = {plugged, port, identity.instanceId};
    }
    kmsim::RecordDeviceNode(identity.instanceId, identity.hardwareIds, identity.compatibleIds);
    NTSTATUS status;
    if (m_state->installed) {
        status = StartInstalled(identity.instanceId, plugged->Pdo());
    } else {
        bridge::AttachPresentDevice(identity.instanceId, plugged->Pdo());
        status = m_state->driver ? kmsim::PlugDevice(m_state->driver, plugged->Pdo(), identity.instanceId)
                                 : STATUS_NO_SUCH_DEVICE;
        bridge::RecordPresentDeviceStart(identity.instanceId, status);
    }
    if (startStatus) *startStatus = status;
    return slot;
}

int32_t VirtualMachine::StartInstalled(const std::string& instanceId, void* pdo)
{
    if (!bridge::AttachPresentDevice(instanceId, static_cast<PDEVICE_OBJECT>(pdo))) return STATUS_OBJECT_NAME_COLLISION;
    bool configured = kmsim::DeviceNodeString(instanceId, "Service").has_value() &&
                      !(kmsim::DeviceNodeConfigFlags(instanceId) & kmsim::kConfigFlagReinstall);
    if (configured) return bridge::RestartDeviceNode(instanceId);
    bridge::BeginDeviceInstall();
    uint32_t error = InstallDeviceNode(instanceId);
    bridge::EndDeviceInstall();
    if (error) {
        bridge::MarkDeviceNodeFailedInstall(instanceId);
        return STATUS_NO_SUCH_DEVICE;
    }
    auto state = bridge::PresentDeviceNode(instanceId);
    return state && state->started ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL;
}

bool VirtualMachine::Unplug(int slot) { return UnplugSlot(slot, true); }

bool VirtualMachine::UnplugSlot(int slot, bool waitForHandles)
{
    PluggedSlot plugged;
    {
        std::lock_guard lock(m_state->mutex);
        auto it = m_state->slots.find(slot);
        if (it == m_state->slots.end()) return false;
        plugged = it->second;
        m_state->slots.erase(it);
    }
    usbsim::BusDevice* device = plugged.device;
    m_state->bus.Unplug(*device);
    bridge::DetachPresentDevice(plugged.instanceId, device->Pdo(), true,
                                waitForHandles ? kmsim::OpenFiles::Wait : kmsim::OpenFiles::Abandon);
    m_state->bus.Remove(*device);
    return true;
}

size_t VirtualMachine::PluggedCount() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->slots.size();
}

std::string VirtualMachine::InstanceId(int slot) const
{
    std::lock_guard lock(m_state->mutex);
    auto it = m_state->slots.find(slot);
    return it == m_state->slots.end() ? std::string() : it->second.instanceId;
}

std::optional<uint32_t> bridge::MachineFrame()
{
    std::lock_guard lock(g_machinesMutex);
    if (g_machines.empty()) return std::nullopt;
    return g_machines.back()->CurrentFrame();
}

uint32_t VirtualMachine::CurrentFrame() const { return m_state->bus.CurrentFrame(); }

void VirtualMachine::StepFrames(uint32_t frames)
{
    m_state->bus.StepFrames(frames);
    m_state->bus.Flush();
}

void VirtualMachine::StartClock(bool paced)
{
    if (m_state->clockRunning.exchange(true)) return;
    m_state->clock = std::thread([state = m_state.get(), paced] {
        auto next = std::chrono::steady_clock::now();
        while (state->clockRunning) {
            state->bus.StepFrames(1);
            state->bus.Flush();
            if (paced) {
                next += std::chrono::milliseconds(1);
                std::this_thread::sleep_until(next);
            }
        }
    });
}

void VirtualMachine::StopClock()
{
    if (!m_state->clockRunning.exchange(false)) return;
    m_state->clock.join();
}

}  // namespace umsim
