// Updating the driver of present devices from an INF file.
#pragma once

#include <windows.h>

#define INSTALLFLAG_FORCE          0x00000001
#define INSTALLFLAG_READONLY       0x00000002
#define INSTALLFLAG_NONINTERACTIVE 0x00000004

BOOL WINAPI UpdateDriverForPlugAndPlayDevicesA(HWND hwndParent, LPCSTR HardwareId, LPCSTR FullInfPath,
                                               DWORD InstallFlags, PBOOL bRebootRequired);
