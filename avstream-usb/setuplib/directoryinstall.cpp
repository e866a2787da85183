#include "setupalgorithms.h"

#include <setupapi.h>
#include <stdio.h>
#include <string.h>

DWORD InstallOemInfs(const char* directory)
{
    // One byte beyond the list's buffer stays zero, so the walk below ends
    // inside the array whatever the list holds.
    char list[MAX_PATH + 1] = {};
    if (!SetupGetInfFileListA(directory, INF_STYLE_WIN4, list, MAX_PATH, NULL)) {
        OutputDebugStringA("SetupGetInfFileList() failed\n");
        return SETUP_EXIT_NO_INF_LIST;
    }
    for (const char* name = list; *name; name += strlen(name) + 1) {
        char path[MAX_PATH];
        int length = _snprintf(path, sizeof path, "%s\\%s", directory, name);
        if (length < 0 || length >= int(sizeof path)) return ERROR_FILENAME_EXCED_RANGE;
        if (!SetupCopyOEMInfA(path, directory, SPOST_PATH, 0, NULL, 0, NULL, NULL)) {
            DWORD error = GetLastError();
            if (error) return error;
        }
    }
    return 0;
}
