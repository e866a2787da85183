// Service drivers: the loaded driver of each service with the devices it
// runs on.
#include "um/bridge/servicedrivers.h"

#include "km/devicenodes.h"
#include "km/genericaudioclassdriver.h"
#include "km/registrystore.h"
#include "um/windowsroot.h"

#include <dlfcn.h>
#include <strings.h>

#include <cstring>

#include <map>
#include <mutex>

namespace umsim::bridge {
namespace {

struct ServiceDriver {
    PDRIVER_OBJECT object = nullptr;
    void* library = nullptr;  // dlopen handle; null for a built-in driver
    size_t devices = 0;
};

// Both maps guarded by the mutex, which is held across loading and
// unloading so a driver is never loaded twice. Stack starts and removals
// run outside it.
struct Drivers {
    std::mutex mutex;
    std::map<std::string, ServiceDriver> services;  // by lower-case service name
    std::map<PDEVICE_OBJECT, std::string> stacks;    // device -> its service
};

Drivers& TheDrivers()
{
    static Drivers* drivers = new Drivers;
    return *drivers;
}

std::string Lower(std::string text)
{
    for (char& c : text) c = char(tolower(uint8_t(c)));
    return text;
}

bool StartsWith(const std::string& text, const char* prefix)
{
    return strncasecmp(text.c_str(), prefix, strlen(prefix)) == 0;
}

std::string FileName(const std::string& path)
{
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// "\SystemRoot\System32\drivers\x.sys", "System32\drivers\x.sys",
// "%SystemRoot%\..." or "\??\C:\..." as a drive path ("C:\Windows\...");
// "" for what names no file.
std::string DriveImagePath(const std::string& imagePath)
{
    std::string path = imagePath;
    if (StartsWith(path, "\\??\\")) return path.substr(4);
    if (StartsWith(path, "\\SystemRoot\\")) return "C:\\Windows\\" + path.substr(12);
    if (StartsWith(path, "%SystemRoot%\\")) return "C:\\Windows\\" + path.substr(13);
    if (path.size() > 2 && path[1] == ':') return path;
    if (path.empty() || path[0] == '\\') return {};
    return "C:\\Windows\\" + path;  // relative to the system root
}

NTSTATUS Load(const std::string& service, ServiceDriver* loaded)
{
    auto imagePath = kmsim::GetString(kmsim::kServicesPath + service, "ImagePath");
    if (!imagePath) return STATUS_OBJECT_NAME_NOT_FOUND;
    PDRIVER_INITIALIZE entry = nullptr;
    void* library = nullptr;
    if (Lower(FileName(*imagePath)) == kmsim::kGenericAudioClassImage) {
        entry = kmsim::GenericAudioClassDriverEntry;
    } else {
        auto host = WindowsRoot::HostPath(DriveImagePath(*imagePath));
        if (!host) return STATUS_OBJECT_NAME_NOT_FOUND;
        library = dlopen(host->c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!library) return STATUS_OBJECT_NAME_NOT_FOUND;
        entry = reinterpret_cast<PDRIVER_INITIALIZE>(dlsym(library, "DriverEntry"));
        if (!entry) {
            dlclose(library);
            return STATUS_PROCEDURE_NOT_FOUND;
        }
    }
    NTSTATUS status = kmsim::LoadDriver(service, entry, &loaded->object);
    if (!NT_SUCCESS(status)) {
        if (library) dlclose(library);
        return status;
    }
    loaded->library = library;
    return STATUS_SUCCESS;
}

// Drops one device from the driver; unloads it after its last.
void Release(Drivers& drivers, const std::string& key)
{
    auto it = drivers.services.find(key);
    if (it == drivers.services.end() || --it->second.devices) return;
    ServiceDriver driver = it->second;
    drivers.services.erase(it);
    kmsim::UnloadDriver(driver.object);
    if (driver.library) dlclose(driver.library);
}

}  // namespace

NTSTATUS StartServiceStack(PDEVICE_OBJECT pdo, const std::string& instanceId, const std::string& service)
{
    Drivers& drivers = TheDrivers();
    std::string key = Lower(service);
    PDRIVER_OBJECT object;
    {
        std::lock_guard lock(drivers.mutex);
        if (drivers.stacks.count(pdo)) return STATUS_OBJECT_NAME_COLLISION;
        ServiceDriver& driver = drivers.services[key];
        if (!driver.object) {
            NTSTATUS status = Load(service, &driver);
            if (!NT_SUCCESS(status)) {
                drivers.services.erase(key);
                return status;
            }
        }
        ++driver.devices;
        drivers.stacks[pdo] = key;
        object = driver.object;
    }
    NTSTATUS status = kmsim::PlugDevice(object, pdo, instanceId);
    // A failed AddDevice leaves no stack; a failed start leaves one to remove.
    if (!NT_SUCCESS(status) && !kmsim::IsDevicePlugged(pdo)) {
        std::lock_guard lock(drivers.mutex);
        drivers.stacks.erase(pdo);
        Release(drivers, key);
    }
    return status;
}

void RemoveServiceStack(PDEVICE_OBJECT pdo, bool surprise, kmsim::OpenFiles openFiles)
{
    Drivers& drivers = TheDrivers();
    if (kmsim::IsDevicePlugged(pdo)) kmsim::UnplugDevice(pdo, surprise, openFiles);
    std::lock_guard lock(drivers.mutex);
    auto it = drivers.stacks.find(pdo);
    if (it == drivers.stacks.end()) return;
    std::string key = it->second;
    drivers.stacks.erase(it);
    Release(drivers, key);
}

}  // namespace umsim::bridge
