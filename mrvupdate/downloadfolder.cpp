#include "downloadfolder.h"

#include <string.h>

bool MakeDownloadFolder(char (&folder)[MAX_PATH])
{
    char tempPath[MAX_PATH];
    DWORD length = GetTempPathA(MAX_PATH, tempPath);
    if (length == 0 || length >= MAX_PATH) return false;
    // The unique name comes as a new empty file, which makes way for the folder.
    if (GetTempFileNameA(tempPath, "sud", 0, folder) == 0) return false;
    DeleteFileA(folder);
    return CreateDirectoryA(folder, NULL) != FALSE;
}

bool DownloadTargetPath(const char* folder, const char* url, char (&target)[MAX_PATH])
{
    const char* slash = strrchr(url, '/');
    const char* name = slash ? slash + 1 : "";
    const size_t folderLength = strlen(folder);
    if (!slash) {
        if (folderLength >= MAX_PATH) return false;
        memcpy(target, folder, folderLength + 1);
        return true;
    }
    if (folderLength + 1 + strlen(name) >= MAX_PATH) return false;
    target[0] = '\0';
    strcat_s(target, sizeof target, folder);
    strcat_s(target, sizeof target, "\\");
    strcat_s(target, sizeof target, name);
    return true;
}
