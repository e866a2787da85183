// Registering the co-installer for a setup class under the system's
// CoDeviceInstallers key, the value named by the class GUID text.
#pragma once

#include <windows.h>

// Both act only on a text that starts with "{" and holds a "}" after it;
// otherwise ERROR_INVALID_PARAMETER. The registry's errors pass through.
// A value of another type than REG_MULTI_SZ is not changed (ERROR_INVALID_DATA).
LONG RegisterClassCoInstaller(const char* classGuid);
LONG UnregisterClassCoInstaller(const char* classGuid);
