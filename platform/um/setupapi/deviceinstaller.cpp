// Selecting and installing a device's driver. The INF is read through the
// INF functions and the registry written through the registry functions,
// as Windows' own installer does.
#include "um/deviceinstaller.h"

#include "um/kernel32/filepaths.h"
#include "um/setupapi/addinterface.h"
#include "um/setupapi/deviceinfoset.h"
#include "um/setupapi/installsection.h"
#include "um/setupapi/registrykey.h"

#include <regstr.h>

#include <cstring>
#include <strings.h>

namespace umsim {
namespace {

constexpr char kCoInstallersKey[] = "SYSTEM\\CurrentControlSet\\Control\\CoDeviceInstallers";
constexpr char kServicesKey[] = "SYSTEM\\CurrentControlSet\\Services\\";
constexpr char kClassKey[] = "SYSTEM\\CurrentControlSet\\Control\\Class\\";
constexpr DWORD kConfigFlagsCleared = CONFIGFLAG_REINSTALL | CONFIGFLAG_FAILEDINSTALL;

void SetText(HKEY key, const char* name, const std::string& text, DWORD type = REG_SZ)
{
    RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(text.c_str()), DWORD(text.size() + 1));
}

void SetDword(HKEY key, const char* name, DWORD value)
{
    RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

std::string GetText(HKEY key, const char* name)
{
    char text[512] = {};
    DWORD size = sizeof text - 1, type = 0;
    if (RegQueryValueExA(key, name, NULL, &type, reinterpret_cast<BYTE*>(text), &size) != ERROR_SUCCESS ||
        type != REG_SZ) {
        return {};
    }
    return text;
}

// The entries "file.dll,Entry" registered for the class. A value of another
// type, or one without its closing NULs, is read only as far as it goes.
std::vector<std::string> CoInstallers(const std::string& classGuid)
{
    std::vector<std::string> entries;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kCoInstallersKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return entries;
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(key, classGuid.c_str(), NULL, &type, NULL, &size) == ERROR_SUCCESS && type == REG_MULTI_SZ) {
        std::vector<char> data(size + 2, '\0');
        if (RegQueryValueExA(key, classGuid.c_str(), NULL, NULL, reinterpret_cast<BYTE*>(data.data()), &size) ==
            ERROR_SUCCESS) {
            for (const char* entry = data.data(); *entry; entry += strlen(entry) + 1) entries.push_back(entry);
        }
    }
    RegCloseKey(key);
    return entries;
}

// Each co-installer of the class is loaded from the system folder and asked
// to select the best driver; a module or entry that is missing is skipped,
// as Windows skips it.
void CallCoInstallers(const std::string& classGuid, HDEVINFO set, SP_DEVINFO_DATA* device)
{
    for (const std::string& entry : CoInstallers(classGuid)) {
        size_t comma = entry.find(',');
        if (comma == std::string::npos || comma == 0) continue;
        std::string file = std::string(kWindowsDirectory) + "\\System32\\" + entry.substr(0, comma);
        std::string routine = entry.substr(comma + 1);
        // By its Windows path, so that the module knows its own file name.
        HMODULE module = LoadLibraryA(file.c_str());
        if (!module) continue;
        auto coInstaller = reinterpret_cast<PCOINSTALLER_ROUTINE>(
            reinterpret_cast<void*>(GetProcAddress(module, routine.c_str())));
        if (coInstaller) {
            COINSTALLER_CONTEXT_DATA context{FALSE, NO_ERROR, NULL};
            coInstaller(DIF_SELECTBESTCOMPATDRV, set, device, &context);
        }
        FreeLibrary(module);
    }
}

// The ImagePath of a service binary: "\SystemRoot\..." under the Windows
// folder, else the path in the object manager's DOS devices.
std::string ImagePathOf(const std::string& binary)
{
    std::string windows = std::string(kWindowsDirectory) + "\\";
    if (strncasecmp(binary.c_str(), windows.c_str(), windows.size()) == 0) {
        return "\\SystemRoot\\" + binary.substr(windows.size());
    }
    return "\\??\\" + binary;
}

// AddService lines of the install section's Services section; the name of
// the service marked as the device's function driver (flag 0x2), else the
// first one.
DWORD AddServices(HINF inf, const std::string& section, std::string* deviceService)
{
    INFCONTEXT context;
    std::string services = section + ".Services";
    for (BOOL more = SetupFindFirstLineA(inf, services.c_str(), "AddService", &context); more;
         more = SetupFindNextMatchLineA(&context, "AddService", &context)) {
        std::string name = InfField(&context, 1);
        INT flags = 0;
        SetupGetIntField(&context, 2, &flags);
        std::string install = InfField(&context, 3);
        if (name.empty() || install.empty()) return ERROR_INVALID_DATA;
        INFCONTEXT value;
        INT type = 0, start = 3, errorControl = 1;
        if (SetupFindFirstLineA(inf, install.c_str(), "ServiceType", &value)) SetupGetIntField(&value, 1, &type);
        if (SetupFindFirstLineA(inf, install.c_str(), "StartType", &value)) SetupGetIntField(&value, 1, &start);
        if (SetupFindFirstLineA(inf, install.c_str(), "ErrorControl", &value)) SetupGetIntField(&value, 1, &errorControl);
        std::string binary;
        if (SetupFindFirstLineA(inf, install.c_str(), "ServiceBinary", &value)) binary = InfField(&value, 1);
        if (binary.empty()) return ERROR_INVALID_DATA;
        RegistryKey key;
        if (!key.Create(HKEY_LOCAL_MACHINE, kServicesKey + name)) return ERROR_ACCESS_DENIED;
        SetDword(key.handle, "Type", DWORD(type));
        SetDword(key.handle, "Start", DWORD(start));
        SetDword(key.handle, "ErrorControl", DWORD(errorControl));
        SetText(key.handle, "ImagePath", ImagePathOf(binary), REG_EXPAND_SZ);
        if ((flags & 0x2) || deviceService->empty()) *deviceService = name;
    }
    return ERROR_SUCCESS;
}

// The node's driver key under the class: the one it has if it is of that
// class, else the first free number.
std::string DriverKeyOf(HKEY node, const std::string& classGuid)
{
    std::string current = GetText(node, "Driver");
    if (strncasecmp(current.c_str(), (classGuid + "\\").c_str(), classGuid.size() + 1) == 0) return current;
    for (int number = 0;; ++number) {
        char name[16];
        snprintf(name, sizeof name, "%04d", number);
        std::string relative = classGuid + "\\" + name;
        HKEY existing;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, (kClassKey + relative).c_str(), 0, KEY_READ, &existing) ==
            ERROR_SUCCESS) {
            RegCloseKey(existing);
            continue;
        }
        return relative;
    }
}

// The install section's directives, then the node moved to the driver.
// HKR is the driver key in the install section, the device's hardware key
// in its .HW section. On a failure the node keeps its driver; what the
// directives wrote before it stays, as on Windows.
DWORD InstallFromInf(HINF inf, const std::string& instanceId, const DriverNode& driver)
{
    std::string section = DecoratedSection(inf, driver.installSection);
    if (section.empty()) return ERROR_SECTION_NOT_FOUND;
    RegistryKey node;
    if (!node.Create(HKEY_LOCAL_MACHINE, DeviceNodePath(instanceId))) return ERROR_NO_SUCH_DEVINST;
    std::string driverKey = DriverKeyOf(node.handle, driver.classGuid);
    RegistryKey softwareKey, hardwareKey;
    if (!softwareKey.Create(HKEY_LOCAL_MACHINE, kClassKey + driverKey) ||
        !hardwareKey.Create(node.handle, "Device Parameters")) {
        return ERROR_ACCESS_DENIED;
    }
    std::string service;
    DWORD error = RunInstallSection(inf, driver.infPath, section, softwareKey.handle);
    std::string hardwareSection = section + ".HW";
    if (!error && SetupGetLineCountA(inf, hardwareSection.c_str()) >= 0) {
        error = RunInstallSection(inf, driver.infPath, hardwareSection, hardwareKey.handle);
    }
    if (!error) error = AddServices(inf, section, &service);
    if (!error) error = AddInterfaces(inf, driver.infPath, section + ".Interfaces", instanceId);
    if (error) return error;

    SetText(softwareKey.handle, "InfPath", driver.infPath.substr(driver.infPath.find_last_of('\\') + 1));
    SetText(softwareKey.handle, "InfSection", driver.installSection);
    SetText(softwareKey.handle, "ProviderName", driver.provider);
    SetText(softwareKey.handle, "DriverDesc", driver.description);
    SetText(softwareKey.handle, "MatchingDeviceId", driver.matchingId);
    if (service.empty()) {
        RegDeleteValueA(node.handle, "Service");
    } else {
        SetText(node.handle, "Service", service);
    }
    SetText(node.handle, "Driver", driverKey);
    SetText(node.handle, "ClassGUID", driver.classGuid);
    SetText(node.handle, "Class", driver.className);
    SetText(node.handle, "DeviceDesc", driver.description);
    SetText(node.handle, "Mfg", driver.manufacturer);
    DWORD flags = 0, size = sizeof flags;
    RegQueryValueExA(node.handle, "ConfigFlags", NULL, NULL, reinterpret_cast<BYTE*>(&flags), &size);
    SetDword(node.handle, "ConfigFlags", flags & ~kConfigFlagsCleared);
    return ERROR_SUCCESS;
}

DWORD InstallDriver(const std::string& instanceId, const DriverNode& driver)
{
    HINF inf = SetupOpenInfFileA(driver.infPath.c_str(), NULL, INF_STYLE_WIN4, NULL);
    if (inf == INVALID_HANDLE_VALUE) return GetLastError();
    DWORD error = InstallFromInf(inf, instanceId, driver);
    SetupCloseInfFile(inf);
    return error;
}

// The best driver after the co-installers had their say: the lowest rank
// not marked bad, the earlier node on a tie.
const DriverNode* Best(const std::vector<DriverNode>& drivers)
{
    const DriverNode* best = nullptr;
    for (const DriverNode& node : drivers) {
        if (node.flags & DNF_BAD_DRIVER) continue;
        if (!best || node.rank < best->rank) best = &node;
    }
    return best;
}

}  // namespace

uint32_t InstallDeviceNode(const std::string& instanceId, bool* restarted)
{
    if (restarted) *restarted = true;
    auto set = std::make_shared<DeviceInfoSet>();
    set->AddDevice(instanceId);
    HDEVINFO handle = InsertHandle(set);
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    FillDevInfo(&device, instanceId, 0);
    if (!SetupDiBuildDriverInfoList(handle, &device, SPDIT_COMPATDRIVER)) {
        DWORD error = GetLastError();
        SetupDiDestroyDeviceInfoList(handle);
        return error;
    }
    std::string classGuid;
    {
        RegistryKey node;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, DeviceNodePath(instanceId).c_str(), 0, KEY_READ, &node.handle) ==
            ERROR_SUCCESS) {
            classGuid = GetText(node.handle, "ClassGUID");
        }
        std::lock_guard lock(set->mutex);
        if (classGuid.empty() && Best(set->devices[0].drivers)) classGuid = Best(set->devices[0].drivers)->classGuid;
    }
    if (!classGuid.empty()) CallCoInstallers(classGuid, handle, &device);
    DriverNode chosen;
    bool found = false;
    {
        std::lock_guard lock(set->mutex);
        if (const DriverNode* best = Best(set->devices[0].drivers)) {
            chosen = *best;
            found = true;
        }
    }
    SetupDiDestroyDeviceInfoList(handle);
    if (!found) return ERROR_NO_COMPAT_DRIVERS;
    if (DWORD error = InstallDriver(instanceId, chosen)) return error;
    bool started = bridge::RestartDeviceNode(instanceId) >= 0;
    if (restarted) *restarted = started;
    return ERROR_SUCCESS;
}

}  // namespace umsim
