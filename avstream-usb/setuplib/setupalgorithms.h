// The commands that walk an INF's models or a folder of INF files.
#pragma once

#include <windows.h>

// Exit codes of their own besides the Win32 errors passed through.
#define SETUP_EXIT_INF_NOT_OPENED    0xDEADBEEF
#define SETUP_EXIT_NO_MODELS_TO_MARK 0xDEADFACE
#define SETUP_EXIT_NO_INF_LIST       0xFFFFFFFF

// Updates the driver of the present devices of every model of the section.
DWORD UpdateDriverForModels(const char* infPath, const char* modelsSection);
// Copies every INF file of the folder into the driver store.
DWORD InstallOemInfs(const char* directory);
// Marks the unplugged devices of every model of the section for reinstall.
DWORD ReinstallDriverForUnpluggedModels(const char* infPath, const char* modelsSection);
// Marks the USB devices whose first hardware ID begins with the given one
// and that are not attached, so Windows reinstalls their driver when they
// are plugged in again.
void MarkUnpluggedDevicesForReinstall(const char* hardwareId);
