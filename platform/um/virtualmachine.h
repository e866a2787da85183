// The whole virtual machine behind a user-mode program: the USB bus with its
// frame clock, the PnP manager with one kernel driver loaded, and the
// devices plugged into the bus. Tests and tools boot it; product code never
// sees it. Plain C++ only, so user-mode programs can include it beside
// <windows.h>.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace usbsim {
class VirtualDevice;
}

namespace umsim {

// Selects the machine that runs installed Windows: no driver is bound up
// front; each plugged device is matched through its device node.
struct InstalledWindows {};

class VirtualMachine {
public:
    // The driver's DriverEntry, type-erased so that the platform does not
    // depend on the product (a PDRIVER_INITIALIZE).
    using DriverEntryRoutine = void*;

    // Boots: creates the bus and loads the driver through the PnP manager
    // under the service name. Check Booted().
    explicit VirtualMachine(DriverEntryRoutine driverEntry, const std::string& serviceName = "mrvusbaudio");
    // Boots installed Windows: plugging a device creates or reuses its device
    // node; a node with a service (and not marked for reinstallation) starts
    // that service's driver, loaded from its ImagePath in the virtual Windows
    // root; any other node goes through driver selection over the INF folder.
    explicit VirtualMachine(InstalledWindows);
    // Unplugs every device, unloads the driver, stops the clock, removes the
    // bus. Handles still open on a device are a verifier finding; their
    // requests fail from then on.
    ~VirtualMachine();
    VirtualMachine(const VirtualMachine&) = delete;
    VirtualMachine& operator=(const VirtualMachine&) = delete;

    bool Booted() const;
    int32_t BootStatus() const;  // DriverEntry's NTSTATUS

    // Plugs the device (taking ownership) into the lowest free port and lets
    // the PnP manager start the driver's stack on it. Returns a slot number for Unplug, or -1 when the
    // device is null. *startStatus (optional) gets the stack's start status.
    int Plug(usbsim::VirtualDevice* device, int32_t* startStatus = nullptr);
    // Pulls the cable (surprise removal, then remove) and deletes the device.
    // The removal waits, as Windows does, until the handles still open on the
    // device are closed: their requests fail meanwhile, and another thread
    // must close them. False when the slot holds no plugged device.
    bool Unplug(int slot);
    size_t PluggedCount() const;
    // The device instance id of the device in the slot ("" when none).
    std::string InstanceId(int slot) const;

    // ---- The bus clock: 1-ms frames ----
    uint32_t CurrentFrame() const;
    // Advances the clock and lets the bus finish the work that became due.
    void StepFrames(uint32_t frames);
    // Runs the clock on a thread: one frame per millisecond of real time
    // when paced, else as fast as the bus completes the work.
    void StartClock(bool paced);
    void StopClock();

private:
    bool UnplugSlot(int slot, bool waitForHandles);
    // The device's stack on installed Windows: from its node, or from the
    // driver installation selects. The start's NTSTATUS.
    int32_t StartInstalled(const std::string& instanceId, void* pdo);

    struct State;
    std::unique_ptr<State> m_state;
};

}  // namespace umsim
