#include "installeddrivers.h"

#include <objbase.h>

namespace {

std::string QueryString(HKEY key, const char* name)
{
    char text[512] = {};
    DWORD type = 0;
    DWORD size = sizeof text - 1;
    if (RegQueryValueExA(key, name, NULL, &type, reinterpret_cast<BYTE*>(text), &size) != ERROR_SUCCESS ||
        type != REG_SZ) {
        return {};
    }
    text[size < sizeof text ? size : sizeof text - 1] = 0;
    return text;
}

bool ParseClsid(const std::string& text, CLSID* clsid)
{
    WCHAR wide[64] = {};
    if (text.empty() || text.size() >= 64 ||
        !MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide, int(sizeof wide / sizeof wide[0]))) {
        return false;
    }
    return SUCCEEDED(CLSIDFromString(wide, clsid));
}

}  // namespace

std::vector<InstalledAsioDriver> ListInstalledAsioDrivers()
{
    std::vector<InstalledAsioDriver> drivers;
    HKEY asio = NULL;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\ASIO", 0, KEY_READ, &asio) != ERROR_SUCCESS) return drivers;
    char name[MAX_PATH];
    for (DWORD index = 0; RegEnumKeyA(asio, index, name, sizeof name) == ERROR_SUCCESS; ++index) {
        HKEY key = NULL;
        if (RegOpenKeyExA(asio, name, 0, KEY_READ, &key) != ERROR_SUCCESS) continue;
        InstalledAsioDriver driver;
        driver.name = name;
        driver.description = QueryString(key, "Description");
        driver.clsidText = QueryString(key, "CLSID");
        driver.clsidValid = ParseClsid(driver.clsidText, &driver.clsid);
        RegCloseKey(key);
        drivers.push_back(std::move(driver));
    }
    RegCloseKey(asio);
    return drivers;
}
