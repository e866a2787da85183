// Selecting and installing a device's driver. The INF is read through the
// INF functions and the registry written through the registry functions,
// as Windows' own installer does.
#include "um/deviceinstaller.h"

#include "um/kernel32/filepaths.h"
#include "um/setupapi/deviceinfoset.h"

#include <regstr.h>

#include <cstring>
#include <filesystem>
#include <strings.h>

namespace umsim {
namespace {

constexpr char kCoInstallersKey[] = "SYSTEM\\CurrentControlSet\\Control\\CoDeviceInstallers";
constexpr char kServicesKey[] = "SYSTEM\\CurrentControlSet\\Services\\";
constexpr char kClassKey[] = "SYSTEM\\CurrentControlSet\\Control\\Class\\";
constexpr DWORD kConfigFlagsCleared = CONFIGFLAG_REINSTALL | CONFIGFLAG_FAILEDINSTALL;

// Closes the key, whoever leaves.
struct Key {
    HKEY handle = NULL;
    ~Key()
    {
        if (handle) RegCloseKey(handle);
    }
};

bool CreateKey(const std::string& path, Key* key)
{
    return RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key->handle, NULL) ==
           ERROR_SUCCESS;
}

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

// The Windows folder of a directory id.
std::string DirectoryOf(int id)
{
    switch (id) {
    case 10: return kWindowsDirectory;
    case 11: return std::string(kWindowsDirectory) + "\\System32";
    case 12: return std::string(kWindowsDirectory) + "\\System32\\drivers";
    default: return {};
    }
}

std::string DestinationOf(HINF inf, const std::string& fileList)
{
    INFCONTEXT context;
    if (!SetupFindFirstLineA(inf, "DestinationDirs", fileList.c_str(), &context) &&
        !SetupFindFirstLineA(inf, "DestinationDirs", "DefaultDestDir", &context)) {
        return {};
    }
    INT id = 0;
    if (!SetupGetIntField(&context, 1, &id)) return {};
    std::string folder = DirectoryOf(id);
    std::string subfolder = InfField(&context, 2);
    if (!folder.empty() && !subfolder.empty()) folder += "\\" + subfolder;
    return folder;
}

DWORD CopyOne(const std::string& source, const std::string& target)
{
    auto from = HostFilePath(source.c_str());
    auto to = HostFilePath(target.c_str());
    if (!from || !to) return ERROR_PATH_NOT_FOUND;
    return ReplaceHostFile(*from, *to) ? DWORD(ERROR_SUCCESS) : DWORD(ERROR_FILE_NOT_FOUND);
}

// CopyFiles of the install section: file-list sections (each line
// "target[,source]") into their DestinationDirs folder.
DWORD CopyFiles(HINF inf, const std::string& section, const std::string& sourceFolder)
{
    INFCONTEXT context;
    for (BOOL more = SetupFindFirstLineA(inf, section.c_str(), "CopyFiles", &context); more;
         more = SetupFindNextMatchLineA(&context, "CopyFiles", &context)) {
        DWORD fields = SetupGetFieldCount(&context);
        for (DWORD f = 1; f <= fields; ++f) {
            std::string list = InfField(&context, f);
            if (list.empty()) continue;
            std::string folder = DestinationOf(inf, list[0] == '@' ? "DefaultDestDir" : list);
            if (folder.empty()) return ERROR_INVALID_DATA;
            if (list[0] == '@') {
                if (DWORD error = CopyOne(PathIn(sourceFolder, list.substr(1)), folder + "\\" + list.substr(1))) return error;
                continue;
            }
            LONG lines = SetupGetLineCountA(inf, list.c_str());
            for (LONG l = 0; l < lines; ++l) {
                INFCONTEXT line;
                if (!SetupGetLineByIndexA(inf, list.c_str(), DWORD(l), &line)) continue;
                std::string target = InfField(&line, 1);
                std::string source = InfField(&line, 2);
                if (target.empty()) continue;
                if (source.empty()) source = target;
                if (DWORD error = CopyOne(PathIn(sourceFolder, source), folder + "\\" + target)) return error;
            }
        }
    }
    return ERROR_SUCCESS;
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
        Key key;
        if (!CreateKey(kServicesKey + name, &key)) return ERROR_ACCESS_DENIED;
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

DWORD InstallDriver(const std::string& instanceId, const DriverNode& driver)
{
    HINF inf = SetupOpenInfFileA(driver.infPath.c_str(), NULL, INF_STYLE_WIN4, NULL);
    if (inf == INVALID_HANDLE_VALUE) return GetLastError();
    std::string section = DecoratedSection(inf, driver.installSection);
    std::string service;
    DWORD error = section.empty()                ? DWORD(ERROR_SECTION_NOT_FOUND)
                  : IsSystemInf(driver.infPath) ? DWORD(ERROR_SUCCESS)
                                                : CopyFiles(inf, section, PackageSourceFolder(driver.infPath));
    if (!error) error = AddServices(inf, section, &service);
    SetupCloseInfFile(inf);
    if (error) return error;

    Key node;
    if (!CreateKey(DeviceNodePath(instanceId), &node)) return ERROR_NO_SUCH_DEVINST;
    std::string driverKey = DriverKeyOf(node.handle, driver.classGuid);
    Key softwareKey;
    if (CreateKey(kClassKey + driverKey, &softwareKey)) {
        SetText(softwareKey.handle, "InfPath", driver.infPath.substr(driver.infPath.find_last_of('\\') + 1));
        SetText(softwareKey.handle, "InfSection", driver.installSection);
        SetText(softwareKey.handle, "ProviderName", driver.provider);
        SetText(softwareKey.handle, "DriverDesc", driver.description);
        SetText(softwareKey.handle, "MatchingDeviceId", driver.matchingId);
    }
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
        Key node;
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
