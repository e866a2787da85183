// The PnP manager: loads kernel drivers and drives each plugged device's
// stack through AddDevice, start, power changes and removal with the IRPs
// Windows sends. Devices are named by their physical device object (the
// bus's PDO) and a device instance id such as
// "USB\VID_3A1E&PID_0010\5&1a2b3c4d&0&1".
#pragma once

#include <wdm.h>

#include <string>

namespace kmsim {

// Creates the driver object and the service key
// "\Registry\Machine\System\CurrentControlSet\Services\<serviceName>" and
// calls DriverEntry with that registry path. A failing DriverEntry leaves
// nothing loaded.
NTSTATUS LoadDriver(const std::string& serviceName, PDRIVER_INITIALIZE driverEntry, PDRIVER_OBJECT* driverObject);

// Calls the driver's unload routine and deletes the driver object.
// STATUS_DEVICE_BUSY while devices of the driver are still plugged.
NTSTATUS UnloadDriver(PDRIVER_OBJECT driverObject);

// Binds the device's registry keys (Enum\<instance>\Device Parameters and its
// Control\Class driver key), calls AddDevice, then sends
// IRP_MN_START_DEVICE and a device SET_POWER to D0. Returns the first
// failure. A failed AddDevice leaves nothing behind; a failed start leaves
// the device plugged without a working stack until UnplugDevice.
NTSTATUS PlugDevice(PDRIVER_OBJECT driverObject, PDEVICE_OBJECT pdo, const std::string& instanceId);

// IRP_MN_SET_POWER (device power state) to the top of the device's stack.
NTSTATUS SetDevicePowerState(PDEVICE_OBJECT pdo, DEVICE_POWER_STATE state);

// IRP_MN_QUERY_CAPABILITIES; fills *capabilities with what the stack reports.
NTSTATUS QueryDeviceCapabilities(PDEVICE_OBJECT pdo, DEVICE_CAPABILITIES* capabilities);

// What removal does about user-mode file objects still open on the stack:
// wait until their handles are closed, as Windows does, or (a machine torn
// down under them) report them and let their later requests fail.
enum class OpenFiles { Wait, Abandon };

// IRP_MN_SURPRISE_REMOVAL (when surprise is set), then, once no user-mode
// file object refers to the stack, IRP_MN_REMOVE_DEVICE, and the device's
// registry bindings go. With OpenFiles::Wait this blocks while user-mode
// handles stay open: another thread must close them. STATUS_NO_SUCH_DEVICE
// when the PDO is not plugged.
NTSTATUS UnplugDevice(PDEVICE_OBJECT pdo, bool surprise = true, OpenFiles openFiles = OpenFiles::Wait);

// The reference a user-mode file object holds on the stack it was opened on
// (`device` is any device object of the stack), or null when `device` is on
// no plugged stack. Kernel clients take none: removal closes them.
struct DeviceStackReference;
DeviceStackReference* ReferenceDeviceStack(PDEVICE_OBJECT device);
// True once the stack was removed under an abandoned file: its device
// objects are gone and nothing may be sent to them.
bool DeviceStackRemoved(const DeviceStackReference* reference);
// Releases and frees the reference (null is fine).
void DereferenceDeviceStack(DeviceStackReference* reference);
// Whether user-mode file objects are open on the stack of the plugged PDO.
bool HasOpenUserFiles(PDEVICE_OBJECT pdo);

bool IsDevicePlugged(PDEVICE_OBJECT pdo);

// The instance id the device was plugged with; a made-up one
// ("ROOT\KSDEVICE\<n>") for devices the PnP manager does not know.
std::u16string DeviceInstanceId(PDEVICE_OBJECT pdo);

// The driver key ("\Registry\Machine\...\Control\Class\{...}\0000") the
// device was bound to, or "" when it is not plugged.
std::string DeviceDriverKeyPath(PDEVICE_OBJECT pdo);

}  // namespace kmsim
