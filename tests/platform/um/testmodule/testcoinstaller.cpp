// A class co-installer for the installation tests: when the best driver is
// selected it prefers the packages of the provider "Marvolan Test" (their
// untrusted bit cleared) and marks every other node bad. Each call is
// counted under HKEY_CURRENT_USER\Software\MrvTestCoInstaller, "Calls".
#include <windows.h>
#include <setupapi.h>

#include <cstring>

namespace {

void CountCall()
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\MrvTestCoInstaller", 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key,
                        NULL)) {
        return;
    }
    DWORD calls = 0, size = sizeof calls;
    RegQueryValueExA(key, "Calls", NULL, NULL, reinterpret_cast<BYTE*>(&calls), &size);
    ++calls;
    RegSetValueExA(key, "Calls", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&calls), sizeof calls);
    RegCloseKey(key);
}

}  // namespace

extern "C" DWORD CALLBACK TestCoInstaller_Entry(DI_FUNCTION function, HDEVINFO set, PSP_DEVINFO_DATA device,
                                                PCOINSTALLER_CONTEXT_DATA)
{
    if (function != DIF_SELECTBESTCOMPATDRV) return NO_ERROR;
    CountCall();
    for (DWORD i = 0;; ++i) {
        SP_DRVINFO_DATA_V2_A driver{};
        driver.cbSize = sizeof driver;
        if (!SetupDiEnumDriverInfoA(set, device, SPDIT_COMPATDRIVER, i, &driver)) break;
        SP_DRVINSTALL_PARAMS params{};
        params.cbSize = sizeof params;
        if (!SetupDiGetDriverInstallParamsA(set, device, &driver, &params)) continue;
        if (strcmp(driver.ProviderName, "Marvolan Test") == 0) {
            params.Rank &= ~DWORD(DRIVER_UNTRUSTED_RANK);
        } else {
            params.Flags |= DNF_BAD_DRIVER;
        }
        SetupDiSetDriverInstallParamsA(set, device, &driver, &params);
    }
    return NO_ERROR;
}
