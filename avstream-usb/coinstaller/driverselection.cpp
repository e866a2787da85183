// The co-installer's one install function: once the compatible drivers of
// a device are listed, the packages naming this co-installer lose the
// untrusted-driver penalty and every other node is marked bad, so the
// generic class driver cannot win selection.
#include "ownfilename.h"

#include <setupapi.h>
#include <string.h>

namespace {

enum class NodeKind { Unreadable, Foreign, Own };

NodeKind ClassifyDriverNode(HDEVINFO devices, PSP_DEVINFO_DATA device, SP_DRVINFO_DATA_V2_A& driver)
{
    // Only the fixed part is wanted (the INF's name); the hardware-ID list
    // after it usually does not fit, which still fills the fixed part.
    SP_DRVINFO_DETAIL_DATA_A detail;
    memset(&detail, 0, sizeof detail);
    detail.cbSize = sizeof detail;
    BOOL complete = SetupDiGetDriverInfoDetailA(devices, device, &driver, &detail, sizeof detail, NULL);
    if (!complete && GetLastError() != ERROR_INSUFFICIENT_BUFFER) return NodeKind::Unreadable;
    char marker[MAX_PATH];
    GetPrivateProfileStringA("CustomClassCoInstaller", "UseClassCoInstaller", "NULL", marker, sizeof marker,
                             detail.InfFileName);
    if (complete || (g_ownFileName[0] && _stricmp(g_ownFileName, marker) == 0)) return NodeKind::Own;
    return NodeKind::Foreign;
}

bool EnumCompatibleDriver(HDEVINFO devices, PSP_DEVINFO_DATA device, DWORD index, SP_DRVINFO_DATA_V2_A& driver)
{
    driver.cbSize = sizeof driver;
    return SetupDiEnumDriverInfoA(devices, device, SPDIT_COMPATDRIVER, index, &driver) != FALSE;
}

bool AnyOwnDriverNode(HDEVINFO devices, PSP_DEVINFO_DATA device)
{
    SP_DRVINFO_DATA_V2_A driver;
    for (DWORD index = 0; EnumCompatibleDriver(devices, device, index, driver); ++index) {
        if (ClassifyDriverNode(devices, device, driver) == NodeKind::Own) return true;
    }
    return false;
}

void MarkDriverNodes(HDEVINFO devices, PSP_DEVINFO_DATA device)
{
    SP_DRVINFO_DATA_V2_A driver;
    for (DWORD index = 0; EnumCompatibleDriver(devices, device, index, driver); ++index) {
        SP_DRVINSTALL_PARAMS params;
        params.cbSize = sizeof params;
        if (!SetupDiGetDriverInstallParamsA(devices, device, &driver, &params)) continue;
        if (ClassifyDriverNode(devices, device, driver) == NodeKind::Own) {
            params.Rank &= ~DWORD(DRIVER_UNTRUSTED_RANK);
        } else {
            params.Flags |= DNF_BAD_DRIVER;
        }
        SetupDiSetDriverInstallParamsA(devices, device, &driver, &params);
    }
}

}  // namespace

extern "C" DWORD CALLBACK ClassCoInstaller_Entry(DI_FUNCTION InstallFunction, HDEVINFO DeviceInfoSet,
                                                 PSP_DEVINFO_DATA DeviceInfoData, PCOINSTALLER_CONTEXT_DATA Context)
{
    UNREFERENCED_PARAMETER(Context);
    if (InstallFunction == DIF_SELECTBESTCOMPATDRV && AnyOwnDriverNode(DeviceInfoSet, DeviceInfoData)) {
        MarkDriverNodes(DeviceInfoSet, DeviceInfoData);
    }
    return NO_ERROR;
}
