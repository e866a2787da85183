#include "modelsinf.h"
#include "setupalgorithms.h"

#include <cfgmgr32.h>
#include <regstr.h>
#include <string.h>

DWORD ReinstallDriverForUnpluggedModels(const char* infPath, const char* modelsSection)
{
    HINF inf = OpenModelsInf(infPath);
    if (inf == INVALID_HANDLE_VALUE) return SETUP_EXIT_INF_NOT_OPENED;
    LONG count = SetupGetLineCountA(inf, modelsSection);
    if (count <= 0) {
        SetupCloseInfFile(inf);
        return SETUP_EXIT_NO_MODELS_TO_MARK;
    }
    for (LONG index = 0; index < count; ++index) {
        char hardwareId[MAX_PATH];
        if (ReadModelHardwareId(inf, modelsSection, DWORD(index), hardwareId)) MarkUnpluggedDevicesForReinstall(hardwareId);
    }
    SetupCloseInfFile(inf);
    return 0;
}

void MarkUnpluggedDevicesForReinstall(const char* hardwareId)
{
    HDEVINFO devices = SetupDiGetClassDevsA(NULL, "USB", NULL, DIGCF_ALLCLASSES);
    if (devices == INVALID_HANDLE_VALUE) return;
    const size_t idLength = strlen(hardwareId);
    SP_DEVINFO_DATA device;
    device.cbSize = sizeof device;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(devices, index, &device); ++index) {
        // The first ID of the list is compared; the last byte stays a NUL.
        char hardwareIds[MAX_PATH] = {};
        if (!SetupDiGetDeviceRegistryPropertyA(devices, &device, SPDRP_HARDWAREID, NULL, (PBYTE)hardwareIds,
                                               sizeof hardwareIds - 1, NULL) ||
            _strnicmp(hardwareIds, hardwareId, idLength) != 0) {
            continue;
        }
        ULONG status = 0, problem = 0;
        if (CM_Get_DevNode_Status(&status, &problem, device.DevInst, 0) != CR_NO_SUCH_DEVNODE) continue;
        // A device without flags has none set; one whose flags do not read
        // is left alone rather than have them replaced.
        DWORD flags = 0;
        if (!SetupDiGetDeviceRegistryPropertyA(devices, &device, SPDRP_CONFIGFLAGS, NULL, (PBYTE)&flags, sizeof flags,
                                               NULL) &&
            GetLastError() != ERROR_INVALID_DATA) {
            continue;
        }
        flags |= CONFIGFLAG_REINSTALL;
        SetupDiSetDeviceRegistryPropertyA(devices, &device, SPDRP_CONFIGFLAGS, (PBYTE)&flags, sizeof flags);
    }
    SetupDiDestroyDeviceInfoList(devices);
}
