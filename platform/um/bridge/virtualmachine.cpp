// The virtual machine: a bus, a driver loaded by the PnP manager and the
// devices on the bus, started and torn down as Windows would.
#include <wdm.h>

#include "km/pnpmanager.h"
#include "um/bridge/kernelbridge.h"
#include "um/virtualmachine.h"
#include "usb/bus.h"
#include "usb/virtualdevice.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace umsim {

struct VirtualMachine::State {
    usbsim::Bus bus;
    PDRIVER_OBJECT driver = nullptr;
    NTSTATUS bootStatus = STATUS_UNSUCCESSFUL;
    mutable std::mutex mutex;  // slots, nextSlot
    std::map<int, usbsim::BusDevice*> slots;
    int nextSlot = 0;
    std::thread clock;
    std::atomic<bool> clockRunning{false};
};

namespace {

// Machines alive, newest last, for user mode's clock.
std::mutex g_machinesMutex;
std::vector<const usbsim::Bus*> g_machines;  // their buses; guarded by g_machinesMutex

uint16_t DescriptorWord(const usbsim::VirtualDevice& device, size_t offset)
{
    auto descriptor = device.DeviceDescriptor();
    if (descriptor.size() < offset + 2) return 0;
    return uint16_t(descriptor[offset] | descriptor[offset + 1] << 8);
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

bool VirtualMachine::Booted() const { return m_state->driver != nullptr; }
int32_t VirtualMachine::BootStatus() const { return m_state->bootStatus; }

int VirtualMachine::Plug(usbsim::VirtualDevice* device, int32_t* startStatus)
{
    if (!device) return -1;
    std::unique_ptr<usbsim::VirtualDevice> owned(device);
    uint16_t vendor = DescriptorWord(*owned, 8);
    uint16_t product = DescriptorWord(*owned, 10);
    usbsim::BusDevice& plugged = m_state->bus.Plug(std::move(owned));
    int slot;
    {
        std::lock_guard lock(m_state->mutex);
        slot = m_state->nextSlot++;
        m_state->slots[slot] = &plugged;
    }
    char instance[96];
    snprintf(instance, sizeof instance, "USB\\VID_%04X&PID_%04X\\7&%x&0&%d", vendor, product, 0x2a1e0000u + slot,
             slot + 1);
    NTSTATUS status = m_state->driver ? kmsim::PlugDevice(m_state->driver, plugged.Pdo(), instance)
                                      : STATUS_NO_SUCH_DEVICE;
    if (startStatus) *startStatus = status;
    return slot;
}

bool VirtualMachine::Unplug(int slot) { return UnplugSlot(slot, true); }

bool VirtualMachine::UnplugSlot(int slot, bool waitForHandles)
{
    usbsim::BusDevice* device;
    {
        std::lock_guard lock(m_state->mutex);
        auto it = m_state->slots.find(slot);
        if (it == m_state->slots.end()) return false;
        device = it->second;
        m_state->slots.erase(it);
    }
    m_state->bus.Unplug(*device);
    if (kmsim::IsDevicePlugged(device->Pdo())) {
        kmsim::UnplugDevice(device->Pdo(), true, waitForHandles ? kmsim::OpenFiles::Wait : kmsim::OpenFiles::Abandon);
    }
    m_state->bus.Remove(*device);
    return true;
}

size_t VirtualMachine::PluggedCount() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->slots.size();
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
