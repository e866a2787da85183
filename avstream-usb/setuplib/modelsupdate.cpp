#include "modelsinf.h"
#include "setupalgorithms.h"

#include <newdev.h>

DWORD UpdateDriverForModels(const char* infPath, const char* modelsSection)
{
    HINF inf = OpenModelsInf(infPath);
    if (inf == INVALID_HANDLE_VALUE) return SETUP_EXIT_INF_NOT_OPENED;
    LONG count = SetupGetLineCountA(inf, modelsSection);
    if (count <= 0) {
        SetupCloseInfFile(inf);
        return ERROR_NO_SUCH_DEVINST;
    }
    for (LONG index = 0; index < count; ++index) {
        char hardwareId[MAX_PATH];
        if (!ReadModelHardwareId(inf, modelsSection, DWORD(index), hardwareId)) continue;
        BOOL rebootRequired = FALSE;
        if (!UpdateDriverForPlugAndPlayDevicesA(NULL, hardwareId, infPath, INSTALLFLAG_FORCE, &rebootRequired)) {
            // A model with no device present is no failure.
            DWORD error = GetLastError();
            if (error != ERROR_NO_SUCH_DEVINST) {
                SetupCloseInfFile(inf);
                return error;
            }
        }
    }
    SetupCloseInfFile(inf);
    return 0;
}
