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

class VirtualMachine {
public:
    // The driver's DriverEntry, type-erased so that the platform does not
    // depend on the product (a PDRIVER_INITIALIZE).
    using DriverEntryRoutine = void*;

    // Boots: creates the bus and loads the driver through the PnP manager
    // under the service name. Check Booted().
    explicit VirtualMachine(DriverEntryRoutine driverEntry, const std::string& serviceName = "mrvusbaudio");
    // Unplugs every device, unloads the driver, stops the clock, removes the
    // bus. Handles still open on a device are a verifier finding; their
    // requests fail from then on.
    ~VirtualMachine();
    VirtualMachine(const VirtualMachine&) = delete;
    VirtualMachine& operator=(const VirtualMachine&) = delete;

    bool Booted() const;
    int32_t BootStatus() const;  // DriverEntry's NTSTATUS

    // Plugs the device (taking ownership) and lets the PnP manager start the
    // driver's stack on it. Returns a slot number for Unplug, or -1 when the
    // device is null. *startStatus (optional) gets the stack's start status.
    int Plug(usbsim::VirtualDevice* device, int32_t* startStatus = nullptr);
    // Pulls the cable (surprise removal, then remove) and deletes the device.
    // The removal waits, as Windows does, until the handles still open on the
    // device are closed: their requests fail meanwhile, and another thread
    // must close them. False when the slot holds no plugged device.
    bool Unplug(int slot);
    size_t PluggedCount() const;

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

    struct State;
    std::unique_ptr<State> m_state;
};

}  // namespace umsim
