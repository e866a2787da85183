#include "modelsinf.h"

HINF OpenModelsInf(const char* infPath)
{
    char infClass[MAX_PATH];
    GetPrivateProfileStringA("Version", "Class", "NULL", infClass, sizeof infClass, infPath);
    return SetupOpenInfFileA(infPath, infClass, INF_STYLE_WIN4, NULL);
}

BOOL ReadModelHardwareId(HINF inf, const char* modelsSection, DWORD index, char (&hardwareId)[MAX_PATH])
{
    INFCONTEXT line;
    hardwareId[0] = 0;
    if (!SetupGetLineByIndexA(inf, modelsSection, index, &line)) return FALSE;
    // An ID too long for the buffer is refused, not cut: a cut ID would
    // match other devices by its prefix.
    if (!SetupGetStringFieldA(&line, 2, hardwareId, sizeof hardwareId, NULL)) {
        hardwareId[0] = 0;
        return FALSE;
    }
    return hardwareId[0] != 0;
}
