#include "registration.h"

#include "coinstallerlist.h"
#include "ownfilename.h"

#include <stdio.h>
#include <string.h>

namespace {

const char kCoDeviceInstallersKey[] = "SYSTEM\\CurrentControlSet\\Control\\CoDeviceInstallers";
const REGSAM kCoDeviceInstallersAccess = KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY;

LONG OpenCoDeviceInstallersKey(HKEY* key)
{
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, kCoDeviceInstallersKey, 0, kCoDeviceInstallersAccess, key);
}

bool IsClassGuidText(const char* text) { return text && text[0] == '{' && strchr(text + 1, '}'); }

// The whole value, however long the list has grown.
LONG ReadList(HKEY key, const char* name, std::vector<BYTE>& data)
{
    for (;;) {
        DWORD type = 0, size = 0;
        LONG result = RegQueryValueExA(key, name, NULL, &type, NULL, &size);
        if (result != ERROR_SUCCESS) return result;
        if (type != REG_MULTI_SZ) return ERROR_INVALID_DATA;
        data.resize(size);
        result = RegQueryValueExA(key, name, NULL, &type, data.data(), &size);
        if (result == ERROR_MORE_DATA) continue;  // it grew in between
        if (result != ERROR_SUCCESS) return result;
        if (type != REG_MULTI_SZ) return ERROR_INVALID_DATA;
        data.resize(size);
        return ERROR_SUCCESS;
    }
}

LONG WriteList(HKEY key, const char* name, const CoInstallerList& list)
{
    std::string bytes = list.Bytes();
    return RegSetValueExA(key, name, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(bytes.data()), DWORD(bytes.size()));
}

}  // namespace

LONG RegisterClassCoInstaller(const char* classGuid)
{
    if (!IsClassGuidText(classGuid) || !g_ownFileName[0]) return ERROR_INVALID_PARAMETER;
    char entry[MAX_PATH];
    int length = _snprintf(entry, sizeof entry, "%s,ClassCoInstaller_Entry", g_ownFileName);
    if (length < 0 || length >= int(sizeof entry)) return ERROR_INVALID_PARAMETER;

    HKEY key;
    LONG result = OpenCoDeviceInstallersKey(&key);
    if (result != ERROR_SUCCESS) return result;
    std::vector<BYTE> data;
    result = ReadList(key, classGuid, data);
    if (result == ERROR_FILE_NOT_FOUND) {
        data.clear();
        result = ERROR_SUCCESS;
    }
    if (result == ERROR_SUCCESS) {
        CoInstallerList list(data.data(), data.size());
        if (!list.Contains(entry)) {
            list.Append(entry);
            result = WriteList(key, classGuid, list);
        }
    }
    RegCloseKey(key);
    return result;
}

LONG UnregisterClassCoInstaller(const char* classGuid)
{
    if (!IsClassGuidText(classGuid)) return ERROR_INVALID_PARAMETER;
    HKEY key;
    LONG result = OpenCoDeviceInstallersKey(&key);
    if (result != ERROR_SUCCESS) return result;
    std::vector<BYTE> data;
    result = ReadList(key, classGuid, data);
    if (result == ERROR_SUCCESS) {
        CoInstallerList list(data.data(), data.size());
        if (list.RemoveEntriesOf(g_ownFileName)) {
            // An empty list is no registration: the value goes.
            result = list.Bytes().size() <= 2 ? RegDeleteValueA(key, classGuid) : WriteList(key, classGuid, list);
        }
    }
    RegCloseKey(key);
    return result;
}
