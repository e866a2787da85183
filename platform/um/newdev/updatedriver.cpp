// UpdateDriverForPlugAndPlayDevicesA: the package goes into the driver
// store, then every present device with the id gets the best driver of the
// store (the package competing with what is there already).
#include "um/bridge/kernelbridge.h"
#include "um/deviceinstaller.h"
#include "um/setupapi/deviceinfoset.h"

#include <newdev.h>
#include <setupapi.h>

#include <algorithm>
#include <cstring>
#include <strings.h>

namespace umsim {
namespace {

bool HasId(const std::string& instanceId, const char* hardwareId)
{
    for (const char* value : {"HardwareID", "CompatibleIDs"}) {
        for (const std::string& id : DeviceNodeIds(instanceId, value)) {
            if (strcasecmp(id.c_str(), hardwareId) == 0) return true;
        }
    }
    return false;
}

}  // namespace
}  // namespace umsim

BOOL WINAPI UpdateDriverForPlugAndPlayDevicesA(HWND hwndParent, LPCSTR HardwareId, LPCSTR FullInfPath,
                                               DWORD InstallFlags, PBOOL bRebootRequired)
{
    UNREFERENCED_PARAMETER(hwndParent);
    if (bRebootRequired) *bRebootRequired = FALSE;
    if (!HardwareId || !*HardwareId || !FullInfPath || !*FullInfPath) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (InstallFlags & ~DWORD(INSTALLFLAG_FORCE | INSTALLFLAG_READONLY | INSTALLFLAG_NONINTERACTIVE)) {
        SetLastError(ERROR_INVALID_FLAGS);
        return FALSE;
    }
    std::vector<std::string> devices;
    for (const std::string& id : umsim::bridge::PresentDeviceNodes()) {
        if (umsim::HasId(id, HardwareId)) devices.push_back(id);
    }
    if (devices.empty()) {
        SetLastError(ERROR_NO_SUCH_DEVINST);
        return FALSE;
    }
    // The package's files are found beside its INF later.
    std::string folder = FullInfPath;
    folder.erase(std::min(folder.size(), folder.find_last_of("\\/")));
    char stored[MAX_PATH];
    if (!SetupCopyOEMInfA(FullInfPath, folder.c_str(), SPOST_PATH, 0, stored, sizeof stored, NULL, NULL)) return FALSE;
    bool reboot = false;
    umsim::bridge::BeginDeviceInstall();
    DWORD result = ERROR_SUCCESS;
    for (const std::string& id : devices) {
        bool restarted = true;
        DWORD error = umsim::InstallDeviceNode(id, &restarted);
        if (error && !result) result = error;
        reboot |= !restarted;
    }
    umsim::bridge::EndDeviceInstall();
    if (bRebootRequired) *bRebootRequired = reboot;
    SetLastError(result);
    return result == ERROR_SUCCESS;
}
