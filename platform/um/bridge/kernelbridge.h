// The narrow border between the Win32 emulation and the kernel emulation.
// Both sides include this header, so it carries plain C++ types only: kernel
// objects travel as opaque pointers, statuses as NTSTATUS values in int32_t.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace umsim::bridge {

using Status = int32_t;  // an NTSTATUS
constexpr Status kStatusPending = 0x00000103;

// ---- Verifier ---------------------------------------------------------------
void ReportViolation(const std::string& category, const std::string& message);

// ---- Files: kernel FILE_OBJECTs opened through the I/O manager ---------------
struct KernelFile;

// IRP_MJ_CREATE on the device object an enabled device interface resolves
// to. STATUS_OBJECT_NAME_NOT_FOUND when no interface has the path.
Status OpenDeviceInterface(const std::string& path, KernelFile** file);
// IRP_MJ_CREATE relative to the filter's file object carrying a pin-create
// request (KSPIN_CONNECT followed by its KSDATAFORMAT).
Status OpenPin(KernelFile* filter, const void* connectAndFormat, size_t size, KernelFile** pin);
// Cancels what is pending on the file, waits for it, then IRP_MJ_CLEANUP and
// IRP_MJ_CLOSE; the file is gone afterwards.
void CloseFile(KernelFile* file);

// How a request finished: its status and IoStatus.Information.
using Completion = std::function<void(Status status, uintptr_t information)>;
// IRP_MJ_DEVICE_CONTROL as the I/O manager builds it for a user-mode caller.
// Returns kStatusPending when the driver pended it; then `done` runs once,
// on whichever thread completes it. Otherwise `done` has already run.
Status DeviceControl(KernelFile* file, uint32_t code, void* input, uint32_t inputLength, void* output,
                     uint32_t outputLength, Completion done);
// IoCancelIrp on every request of the file still pending; true if any was.
bool CancelFileRequests(KernelFile* file);

// ---- Kernel events for kernel-streaming notification -------------------------
// A synchronisation KEVENT plus a relay thread that calls `signal` each time
// kernel code sets it.
struct KernelEventRelay;
KernelEventRelay* CreateKernelEventRelay(std::function<void()> signal);
void* KernelEventOf(KernelEventRelay* relay);  // the PKEVENT to hand to the kernel
void DeleteKernelEventRelay(KernelEventRelay* relay);

// ---- Device interfaces ------------------------------------------------------
struct DeviceInterface {
    std::string path;          // "\\?\usb#vid_...#{class}\reference"
    std::string service;       // the service name of the device's driver
    std::string interfaceKey;  // registry path of the interface's Device Parameters key
    std::string instanceId;    // the device instance the interface belongs to
};
std::vector<DeviceInterface> EnabledDeviceInterfaces(const uint8_t (&interfaceClass)[16]);
std::optional<DeviceInterface> FindDeviceInterface(const std::string& path);

// ---- Device nodes of present devices ------------------------------------------
struct DeviceNodeState {
    bool started = false;  // a driver's stack runs on it
    uint32_t problem = 0;  // a CM_PROB_* number when it has a problem
};
// The state of a present device; nullopt when no device of that instance
// id is plugged (its node may still exist as a phantom).
std::optional<DeviceNodeState> PresentDeviceNode(const std::string& instanceId);
std::vector<std::string> PresentDeviceNodes();
// Removes the device's current stack and starts the driver of the service
// its node names. STATUS_NO_SUCH_DEVICE when the device is not present.
Status RestartDeviceNode(const std::string& instanceId);
// Records that installation found no driver for the present device.
void MarkDeviceNodeFailedInstall(const std::string& instanceId);
// Installations under way (a device being plugged and installed); Wait
// returns false when some are still running after the time-out.
void BeginDeviceInstall();
void EndDeviceInstall();
bool WaitNoPendingInstalls(uint32_t timeoutMilliseconds);

// ---- Clock --------------------------------------------------------------------
// The bus frame counter of the most recently booted virtual machine still
// alive (one frame per millisecond), or nullopt when there is none.
std::optional<uint32_t> MachineFrame();

// ---- Registry store -----------------------------------------------------------
struct RegistryData {
    uint32_t type = 0;
    std::vector<uint8_t> data;
};
bool RegistryKeyExists(const std::string& path);
bool RegistryCreateKey(const std::string& path);
bool RegistryDeleteKey(const std::string& path);
bool RegistryHasSubkeys(const std::string& path);
std::optional<RegistryData> RegistryGetValue(const std::string& path, const std::string& name);
bool RegistrySetValue(const std::string& path, const std::string& name, const RegistryData& value);
bool RegistryDeleteValue(const std::string& path, const std::string& name);
std::vector<std::string> RegistrySubkeys(const std::string& path);
std::vector<std::string> RegistryValueNames(const std::string& path);
// The store as a file in a directory; Load replaces the store only when the
// whole file reads back.
bool RegistrySave(const std::string& directory, std::string* error);
bool RegistryLoad(const std::string& directory, std::string* error);

}  // namespace umsim::bridge
