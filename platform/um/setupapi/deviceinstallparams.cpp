// Install parameters of a device information set or of one of its devices:
// what a caller sets before building a driver list (DI_ENUMSINGLEINF and
// the INF in DriverPath) and reads back.
#include "um/setupapi/deviceinfoset.h"

#include <cstring>

namespace umsim {
namespace {

// Runs `use` on the parameters the call names (the device's, or the set's
// when it names none) under the set's lock.
template <typename Use>
BOOL WithInstallParams(HDEVINFO handle, const char* routine, PSP_DEVINFO_DATA device,
                       PSP_DEVINSTALL_PARAMS_A params, Use use)
{
    auto set = LookupSet(handle, routine);
    if (!set) return FALSE;
    if (!params || params->cbSize != sizeof(SP_DEVINSTALL_PARAMS_A)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    std::lock_guard lock(set->mutex);
    size_t index = 0;
    if (device && !DeviceIndexOf(*set, device, &index)) return FALSE;
    if (!use(device ? set->devices[index].installParams : set->installParams)) return FALSE;
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

}  // namespace
}  // namespace umsim

BOOL WINAPI SetupDiGetDeviceInstallParamsA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                           PSP_DEVINSTALL_PARAMS_A DeviceInstallParams)
{
    return umsim::WithInstallParams(
        DeviceInfoSet, "SetupDiGetDeviceInstallParamsA", DeviceInfoData, DeviceInstallParams,
        [&](const umsim::DeviceInstallParams& params) {
            memset(reinterpret_cast<BYTE*>(DeviceInstallParams) + sizeof(DWORD), 0,
                   sizeof *DeviceInstallParams - sizeof(DWORD));
            DeviceInstallParams->Flags = params.flags;
            DeviceInstallParams->FlagsEx = params.flagsEx;
            DeviceInstallParams->hwndParent = params.parent;
            memcpy(DeviceInstallParams->DriverPath, params.driverPath.c_str(), params.driverPath.size() + 1);
            return true;
        });
}

BOOL WINAPI SetupDiSetDeviceInstallParamsA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                           PSP_DEVINSTALL_PARAMS_A DeviceInstallParams)
{
    return umsim::WithInstallParams(
        DeviceInfoSet, "SetupDiSetDeviceInstallParamsA", DeviceInfoData, DeviceInstallParams,
        [&](umsim::DeviceInstallParams& params) {
            const char* path = DeviceInstallParams->DriverPath;
            size_t length = strnlen(path, MAX_PATH);
            // A path that is not terminated, or a single INF that is not named.
            if (length == MAX_PATH || ((DeviceInstallParams->Flags & DI_ENUMSINGLEINF) && length == 0)) {
                SetLastError(ERROR_INVALID_PARAMETER);
                return false;
            }
            params.flags = DeviceInstallParams->Flags;
            params.flagsEx = DeviceInstallParams->FlagsEx;
            params.parent = DeviceInstallParams->hwndParent;
            params.driverPath.assign(path, length);
            return true;
        });
}
