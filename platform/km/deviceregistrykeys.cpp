// IoOpenDeviceRegistryKey and IoOpenDeviceInterfaceRegistryKey, resolved
// through the bindings the PnP manager makes for each device and interface.
#include <wdm.h>

#include "km/keyhandles.h"
#include "km/registrystore.h"
#include "km/verifier.h"

#include <map>
#include <mutex>

namespace kmsim {
namespace {

struct DeviceKeys {
    std::string device;
    std::string driver;
};

struct Bindings {
    std::mutex mutex;
    std::map<PDEVICE_OBJECT, DeviceKeys> devices;
    std::map<std::u16string, std::string> interfaces;  // by folded symbolic link
};

Bindings& TheBindings()
{
    static Bindings* bindings = new Bindings;
    return *bindings;
}

// Symbolic links compare without regard to case.
std::u16string FoldLink(std::u16string_view link)
{
    std::u16string folded(link);
    for (char16_t& c : folded) {
        if (c >= u'A' && c <= u'Z') c = char16_t(c - u'A' + u'a');
    }
    return folded;
}

NTSTATUS OpenBoundKey(const std::string& path, ACCESS_MASK access, PHANDLE handle)
{
    RegistryKeyRef key = CreateRegistryKey(path, true);
    if (!key) return STATUS_OBJECT_NAME_INVALID;
    *handle = OpenKeyHandle(std::move(key), access);
    return STATUS_SUCCESS;
}

}  // namespace

void BindDeviceRegistryKeys(PDEVICE_OBJECT pdo, std::string deviceKeyPath, std::string driverKeyPath)
{
    Bindings& b = TheBindings();
    std::lock_guard lock(b.mutex);
    b.devices[pdo] = {std::move(deviceKeyPath), std::move(driverKeyPath)};
}

void UnbindDeviceRegistryKeys(PDEVICE_OBJECT pdo)
{
    Bindings& b = TheBindings();
    std::lock_guard lock(b.mutex);
    b.devices.erase(pdo);
}

void BindInterfaceRegistryKey(std::u16string symbolicLink, std::string keyPath)
{
    Bindings& b = TheBindings();
    std::lock_guard lock(b.mutex);
    b.interfaces[FoldLink(symbolicLink)] = std::move(keyPath);
}

void UnbindInterfaceRegistryKey(const std::u16string& symbolicLink)
{
    Bindings& b = TheBindings();
    std::lock_guard lock(b.mutex);
    b.interfaces.erase(FoldLink(symbolicLink));
}

}  // namespace kmsim

NTSTATUS IoOpenDeviceRegistryKey(PDEVICE_OBJECT DeviceObject, ULONG DevInstKeyType, ACCESS_MASK DesiredAccess,
                                 PHANDLE DevInstRegKey)
{
    if (KeGetCurrentIrql() != PASSIVE_LEVEL) {
        kmsim::ReportViolation("irql", "IoOpenDeviceRegistryKey at IRQL " + std::to_string(KeGetCurrentIrql()));
    }
    if (!DevInstRegKey) return STATUS_INVALID_PARAMETER;
    std::string path;
    {
        kmsim::Bindings& b = kmsim::TheBindings();
        std::lock_guard lock(b.mutex);
        auto it = b.devices.find(DeviceObject);
        // Only physical device objects that PnP reported have keys.
        if (it == b.devices.end()) return STATUS_INVALID_DEVICE_REQUEST;
        if (DevInstKeyType == PLUGPLAY_REGKEY_DEVICE) {
            path = it->second.device;
        } else if (DevInstKeyType == PLUGPLAY_REGKEY_DRIVER) {
            path = it->second.driver;
        } else {
            return STATUS_INVALID_PARAMETER;
        }
    }
    return kmsim::OpenBoundKey(path, DesiredAccess, DevInstRegKey);
}

NTSTATUS IoOpenDeviceInterfaceRegistryKey(PUNICODE_STRING SymbolicLinkName, ACCESS_MASK DesiredAccess,
                                          PHANDLE DeviceInterfaceKey)
{
    if (KeGetCurrentIrql() != PASSIVE_LEVEL) {
        kmsim::ReportViolation("irql",
                               "IoOpenDeviceInterfaceRegistryKey at IRQL " + std::to_string(KeGetCurrentIrql()));
    }
    if (!SymbolicLinkName || !DeviceInterfaceKey || (SymbolicLinkName->Length && !SymbolicLinkName->Buffer)) {
        return STATUS_INVALID_PARAMETER;
    }
    std::u16string_view link(SymbolicLinkName->Buffer, SymbolicLinkName->Length / sizeof(WCHAR));
    std::string path;
    {
        kmsim::Bindings& b = kmsim::TheBindings();
        std::lock_guard lock(b.mutex);
        auto it = b.interfaces.find(kmsim::FoldLink(link));
        if (it == b.interfaces.end()) return STATUS_OBJECT_NAME_NOT_FOUND;
        path = it->second;
    }
    return kmsim::OpenBoundKey(path, DesiredAccess, DeviceInterfaceKey);
}
