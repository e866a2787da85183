// The PnP manager: driver loading and the device stack's PnP and power IRPs.
#include "km/pnpmanager.h"
#include "km/systemallocations.h"

#include "km/devicenodes.h"
#include "km/driverobject.h"
#include "km/kssynchronouscall.h"
#include "km/registrystore.h"
#include "km/utf16.h"
#include "km/verifier.h"

#include <condition_variable>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <set>

namespace kmsim {

struct DeviceStackReference {
    PDEVICE_OBJECT pdo = nullptr;  // null once the stack went without it; guarded by Manager::mutex
};

namespace {

struct LoadedDriver {
    DRIVER_OBJECT object{};
    DRIVER_EXTENSION extension{};
    std::u16string name;
    std::u16string serviceName;
    std::u16string registryPath;
    UNICODE_STRING registryPathString{};
};

struct PluggedDevice {
    PDRIVER_OBJECT driver = nullptr;
    std::string instanceId;
    std::string driverKeyPath;
    // User-mode file objects open on the stack; guarded by Manager::mutex.
    std::set<DeviceStackReference*> openFiles;
};

struct Manager {
    std::recursive_mutex mutex;
    std::condition_variable_any filesClosed;  // a stack's openFiles became empty
    std::map<PDRIVER_OBJECT, std::unique_ptr<LoadedDriver>> drivers;
    std::map<PDEVICE_OBJECT, PluggedDevice> devices;
    std::map<PDEVICE_OBJECT, std::u16string> madeUpIds;
};

Manager& TheManager()
{
    static Manager* manager = new Manager;
    return *manager;
}

UNICODE_STRING Counted(std::u16string& text)
{
    USHORT bytes = USHORT(text.size() * sizeof(WCHAR));
    return UNICODE_STRING{bytes, USHORT(bytes + sizeof(WCHAR)), text.data()};
}

PDEVICE_OBJECT TopOfStack(PDEVICE_OBJECT pdo)
{
    PDEVICE_OBJECT top = pdo;
    while (top->AttachedDevice) top = top->AttachedDevice;
    return top;
}

// Builds the request the way the PnP manager does (PnP IRPs start as
// STATUS_NOT_SUPPORTED), sends it to the top of the stack and waits.
// The IRP of a removal is the system's: it reaches the drivers whatever the
// pool's fault injection does (the drivers' own allocations may still fail).
enum class Delivery { MayFail, Must };

template <typename Fill>
NTSTATUS SendToStack(PDEVICE_OBJECT pdo, UCHAR major, UCHAR minor, Fill fill, Delivery delivery = Delivery::MayFail)
{
    PDEVICE_OBJECT top = TopOfStack(pdo);
    PIRP irp = nullptr;
    if (delivery == Delivery::Must) {
        SystemAllocations system;
        irp = IoAllocateIrp(top->StackSize, FALSE);
    } else {
        irp = IoAllocateIrp(top->StackSize, FALSE);
    }
    if (!irp) return STATUS_INSUFFICIENT_RESOURCES;
    irp->IoStatus.Status = major == IRP_MJ_PNP ? STATUS_NOT_SUPPORTED : STATUS_SUCCESS;
    PIO_STACK_LOCATION sp = IoGetNextIrpStackLocation(irp);
    sp->MajorFunction = major;
    sp->MinorFunction = minor;
    fill(sp);
    NTSTATUS status = CallDriverSynchronously(top, irp);
    IoFreeIrp(irp);
    return status;
}

}  // namespace

NTSTATUS LoadDriver(const std::string& serviceName, PDRIVER_INITIALIZE driverEntry, PDRIVER_OBJECT* driverObject)
{
    if (driverObject) *driverObject = nullptr;
    if (serviceName.empty() || !driverEntry || !driverObject) return STATUS_INVALID_PARAMETER;
    auto loaded = std::make_unique<LoadedDriver>();
    loaded->serviceName = Utf8ToUtf16(serviceName);
    loaded->name = u"\\Driver\\" + loaded->serviceName;
    std::string servicePath = kServicesPath + serviceName;
    loaded->registryPath = Utf8ToUtf16(servicePath);
    loaded->registryPathString = Counted(loaded->registryPath);
    CreateKey(servicePath);

    PDRIVER_OBJECT object = &loaded->object;
    InitializeDriverObject(*object, loaded->extension, Counted(loaded->name));
    object->DriverInit = driverEntry;
    loaded->extension.ServiceKeyName = Counted(loaded->serviceName);

    NTSTATUS status = driverEntry(object, &loaded->registryPathString);
    if (!NT_SUCCESS(status)) return status;
    Manager& m = TheManager();
    std::lock_guard lock(m.mutex);
    m.drivers[object] = std::move(loaded);
    *driverObject = object;
    return STATUS_SUCCESS;
}

NTSTATUS UnloadDriver(PDRIVER_OBJECT driverObject)
{
    Manager& m = TheManager();
    std::unique_ptr<LoadedDriver> loaded;
    {
        std::lock_guard lock(m.mutex);
        auto it = m.drivers.find(driverObject);
        if (it == m.drivers.end()) return STATUS_INVALID_PARAMETER;
        for (const auto& [pdo, device] : m.devices) {
            if (device.driver == driverObject) return STATUS_DEVICE_BUSY;
        }
        loaded = std::move(it->second);
        m.drivers.erase(it);
    }
    if (driverObject->DriverUnload) driverObject->DriverUnload(driverObject);
    if (driverObject->DeviceObject) {
        ReportViolation("pnp", "driver " + Utf16ToUtf8(loaded->serviceName) +
                                   " unloaded with device objects it never deleted");
    }
    return STATUS_SUCCESS;
}

NTSTATUS PlugDevice(PDRIVER_OBJECT driverObject, PDEVICE_OBJECT pdo, const std::string& instanceId)
{
    if (!driverObject || !pdo || instanceId.empty()) return STATUS_INVALID_PARAMETER;
    Manager& m = TheManager();
    PluggedDevice device;
    {
        std::lock_guard lock(m.mutex);
        if (!m.drivers.count(driverObject)) return STATUS_INVALID_PARAMETER;
        if (m.devices.count(pdo)) return STATUS_OBJECT_NAME_COLLISION;
        device.driver = driverObject;
        device.instanceId = instanceId;
        device.driverKeyPath = kClassPath + AssignDriverKey(instanceId);
        m.devices[pdo] = device;
    }
    BindDeviceRegistryKeys(pdo, kEnumPath + instanceId + "\\Device Parameters", device.driverKeyPath);

    PDRIVER_ADD_DEVICE addDevice = driverObject->DriverExtension ? driverObject->DriverExtension->AddDevice : nullptr;
    NTSTATUS status = addDevice ? addDevice(driverObject, pdo) : STATUS_INVALID_DEVICE_REQUEST;
    if (!NT_SUCCESS(status) || !pdo->AttachedDevice) {
        if (NT_SUCCESS(status)) status = STATUS_NO_SUCH_DEVICE;
        UnbindDeviceRegistryKeys(pdo);
        std::lock_guard lock(m.mutex);
        m.devices.erase(pdo);
        return status;
    }
    status = SendToStack(pdo, IRP_MJ_PNP, IRP_MN_START_DEVICE, [](PIO_STACK_LOCATION) {});
    if (!NT_SUCCESS(status)) return status;
    return SetDevicePowerState(pdo, PowerDeviceD0);
}

NTSTATUS SetDevicePowerState(PDEVICE_OBJECT pdo, DEVICE_POWER_STATE state)
{
    if (!IsDevicePlugged(pdo)) return STATUS_NO_SUCH_DEVICE;
    return SendToStack(pdo, IRP_MJ_POWER, IRP_MN_SET_POWER, [state](PIO_STACK_LOCATION sp) {
        sp->Parameters.Power.Type = DevicePowerState;
        sp->Parameters.Power.State.DeviceState = state;
    });
}

NTSTATUS QueryDeviceCapabilities(PDEVICE_OBJECT pdo, DEVICE_CAPABILITIES* capabilities)
{
    if (!capabilities) return STATUS_INVALID_PARAMETER;
    if (!IsDevicePlugged(pdo)) return STATUS_NO_SUCH_DEVICE;
    RtlZeroMemory(capabilities, sizeof(*capabilities));
    capabilities->Size = sizeof(*capabilities);
    capabilities->Version = 1;
    capabilities->Address = 0xFFFFFFFF;
    capabilities->UINumber = 0xFFFFFFFF;
    return SendToStack(pdo, IRP_MJ_PNP, IRP_MN_QUERY_CAPABILITIES, [capabilities](PIO_STACK_LOCATION sp) {
        sp->Parameters.DeviceCapabilities.Capabilities = capabilities;
    });
}

// A file object holds the device objects of its stack: removal waits for
// the last one, closed by whoever holds its handle. Abandoned files learn
// that their stack is gone instead.
void AwaitOpenFiles(PDEVICE_OBJECT pdo, OpenFiles openFiles)
{
    Manager& m = TheManager();
    std::unique_lock lock(m.mutex);
    auto it = m.devices.find(pdo);
    if (it == m.devices.end()) return;
    if (openFiles == OpenFiles::Abandon) {
        std::set<DeviceStackReference*>& files = it->second.openFiles;
        if (files.empty()) return;
        ReportViolation("handle", std::to_string(files.size()) + " user-mode handle(s) still open on " +
                                      it->second.instanceId + " as it is removed; close them first");
        for (DeviceStackReference* file : files) file->pdo = nullptr;
        files.clear();
        return;
    }
    m.filesClosed.wait(lock, [&] {
        auto found = m.devices.find(pdo);
        return found == m.devices.end() || found->second.openFiles.empty();
    });
}

NTSTATUS UnplugDevice(PDEVICE_OBJECT pdo, bool surprise, OpenFiles openFiles)
{
    if (!IsDevicePlugged(pdo)) return STATUS_NO_SUCH_DEVICE;
    auto nothing = [](PIO_STACK_LOCATION) {};
    if (surprise) SendToStack(pdo, IRP_MJ_PNP, IRP_MN_SURPRISE_REMOVAL, nothing, Delivery::Must);
    AwaitOpenFiles(pdo, openFiles);
    NTSTATUS status = SendToStack(pdo, IRP_MJ_PNP, IRP_MN_REMOVE_DEVICE, nothing, Delivery::Must);
    if (pdo->AttachedDevice) {
        ReportViolation("pnp", "a driver left its device object attached after IRP_MN_REMOVE_DEVICE");
    }
    UnbindDeviceRegistryKeys(pdo);
    Manager& m = TheManager();
    std::lock_guard lock(m.mutex);
    m.devices.erase(pdo);
    return status;
}

DeviceStackReference* ReferenceDeviceStack(PDEVICE_OBJECT device)
{
    Manager& m = TheManager();
    std::lock_guard lock(m.mutex);
    for (auto& [pdo, plugged] : m.devices) {
        for (PDEVICE_OBJECT member = pdo; member; member = member->AttachedDevice) {
            if (member != device) continue;
            auto* reference = new DeviceStackReference{pdo};
            plugged.openFiles.insert(reference);
            return reference;
        }
    }
    return nullptr;
}

bool HasOpenUserFiles(PDEVICE_OBJECT pdo)
{
    Manager& m = TheManager();
    std::lock_guard lock(m.mutex);
    auto it = m.devices.find(pdo);
    return it != m.devices.end() && !it->second.openFiles.empty();
}

bool DeviceStackRemoved(const DeviceStackReference* reference)
{
    if (!reference) return false;
    std::lock_guard lock(TheManager().mutex);
    return !reference->pdo;
}

void DereferenceDeviceStack(DeviceStackReference* reference)
{
    if (!reference) return;
    Manager& m = TheManager();
    {
        std::lock_guard lock(m.mutex);
        auto it = reference->pdo ? m.devices.find(reference->pdo) : m.devices.end();
        if (it != m.devices.end() && it->second.openFiles.erase(reference) && it->second.openFiles.empty()) {
            m.filesClosed.notify_all();
        }
    }
    delete reference;
}

bool IsDevicePlugged(PDEVICE_OBJECT pdo)
{
    Manager& m = TheManager();
    std::lock_guard lock(m.mutex);
    return m.devices.count(pdo) != 0;
}

std::u16string DeviceInstanceId(PDEVICE_OBJECT pdo)
{
    Manager& m = TheManager();
    std::lock_guard lock(m.mutex);
    auto it = m.devices.find(pdo);
    if (it != m.devices.end()) return Utf8ToUtf16(it->second.instanceId);
    auto made = m.madeUpIds.find(pdo);
    if (made != m.madeUpIds.end()) return made->second;
    std::u16string id = u"ROOT\\KSDEVICE\\" + Utf8ToUtf16(std::to_string(m.madeUpIds.size()));
    m.madeUpIds[pdo] = id;
    return id;
}

std::string DeviceDriverKeyPath(PDEVICE_OBJECT pdo)
{
    Manager& m = TheManager();
    std::lock_guard lock(m.mutex);
    auto it = m.devices.find(pdo);
    return it == m.devices.end() ? std::string() : it->second.driverKeyPath;
}

}  // namespace kmsim
