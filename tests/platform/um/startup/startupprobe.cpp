// A Windows GUI program run through the start-up code. "write ..." checks
// what WinMain receives and leaves a registry key in the Windows root;
// "read" finds that key in the next run.
#include <windows.h>

#include <cstdio>
#include <cstring>

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nShowCmd)
{
    const char kKey[] = "Software\\StartupProbe";
    if (strcmp(lpCmdLine, "read") == 0) {
        HKEY key;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return 2;
        RegCloseKey(key);
        return 0;
    }
    const char expected[] = "write \"two words\" \"\" \"x\\\"y\" \"tab\tend\"";
    if (strcmp(lpCmdLine, expected) != 0 || strstr(GetCommandLineA(), expected) == NULL ||
        hInstance != GetModuleHandleA(NULL) || hPrevInstance != NULL || nShowCmd != SW_SHOWDEFAULT) {
        fprintf(stderr, "WinMain got [%s] of [%s]\n", lpCmdLine, GetCommandLineA());
        return 1;
    }
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL) != ERROR_SUCCESS) {
        return 3;
    }
    RegCloseKey(key);
    return 0;
}
