#include "registration.h"

#include "module.h"
#include "mrvusbasio.h"

#include <stdio.h>
#include <objbase.h>

#include <cstring>

namespace {

// {188135E1-D565-11D2-854F-00A0C99F5D19}: the driver's registration before
// it was renamed, removed by every registration.
const CLSID kOlderClsid = {0x188135E1, 0xD565, 0x11D2, {0x85, 0x4F, 0x00, 0xA0, 0xC9, 0x9F, 0x5D, 0x19}};
constexpr const char kOlderName[] = "MyUsbAsio";
constexpr const char kAsioParent[] = "SOFTWARE\\ASIO";
constexpr DWORD kFileNameChars = 360;

// What both Register and Unregister need: the module's lower-cased file name
// and the braced CLSID text.
struct Identity {
    CHAR fileName[kFileNameChars];
    CHAR clsid[100];
    CHAR classKey[200];   // CLSID\{...}
    CHAR serverKey[240];  // CLSID\{...}\InprocServer32
    CHAR asioKey[MAX_PATH];
};

LONG describe(REFCLSID clsid, LPCSTR pszModulePath, LPCSTR pszName, Identity& id)
{
    HMODULE hModule = GetModuleHandleA(pszModulePath);
    if (!hModule) return kNoModuleHandle;
    id.fileName[0] = '\0';
    if (GetModuleFileNameA(hModule, id.fileName, kFileNameChars) == 0 || !id.fileName[0]) return kNoModuleFileName;
    id.fileName[kFileNameChars - 1] = '\0';
    CharLowerA(id.fileName);
    LPOLESTR pwszClsid = NULL;
    if (FAILED(StringFromCLSID(clsid, &pwszClsid)) || !pwszClsid) return kNoClsidText;
    int converted = WideCharToMultiByte(CP_ACP, 0, pwszClsid, -1, id.clsid, sizeof id.clsid, NULL, NULL);
    CoTaskMemFree(pwszClsid);
    if (converted == 0) return kNoAnsiClsidText;
    _snprintf(id.classKey, sizeof id.classKey, "%s\\%s", "CLSID", id.clsid);
    _snprintf(id.serverKey, sizeof id.serverKey, "%s\\%s\\%s", "CLSID", id.clsid, "InprocServer32");
    _snprintf(id.asioKey, sizeof id.asioKey, "%s\\%s", kAsioParent, pszName);
    return 0;
}

bool keyExists(HKEY hRoot, LPCSTR pszPath)
{
    HKEY hKey = NULL;
    if (RegOpenKeyExA(hRoot, pszPath, 0, KEY_READ, &hKey) != ERROR_SUCCESS) return false;
    RegCloseKey(hKey);
    return true;
}

// The default or named string value, lower-cased; empty when it is missing,
// not a string or too long.
void readLowerString(HKEY hRoot, LPCSTR pszPath, LPCSTR pszValue, CHAR (&text)[kFileNameChars])
{
    text[0] = '\0';
    HKEY hKey = NULL;
    if (RegOpenKeyExA(hRoot, pszPath, 0, KEY_READ, &hKey) != ERROR_SUCCESS) return;
    DWORD type = 0, size = kFileNameChars - 1;
    if (RegQueryValueExA(hKey, pszValue, NULL, &type, reinterpret_cast<LPBYTE>(text), &size) == ERROR_SUCCESS &&
        type == REG_SZ && size < kFileNameChars) {
        text[size] = '\0';
        CharLowerA(text);
    } else {
        text[0] = '\0';
    }
    RegCloseKey(hKey);
}

void setString(HKEY hRoot, LPCSTR pszPath, LPCSTR pszValue, LPCSTR pszText)
{
    HKEY hKey = NULL;
    if (RegOpenKeyExA(hRoot, pszPath, 0, KEY_ALL_ACCESS, &hKey) != ERROR_SUCCESS) return;
    RegSetValueExA(hKey, pszValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(pszText), DWORD(strlen(pszText)));
    RegCloseKey(hKey);
}

// Whether hosts can already create the driver from this module: the ASIO
// key names the class, and the class's server is this file.
bool registrationComplete(REFCLSID clsid, LPCSTR pszName)
{
    Identity id;
    if (describe(clsid, modulePath(), pszName, id) != 0) return false;
    CHAR value[kFileNameChars];
    readLowerString(HKEY_LOCAL_MACHINE, id.asioKey, "CLSID", value);
    CHAR expected[kFileNameChars];
    strncpy(expected, id.clsid, sizeof expected - 1);
    expected[sizeof expected - 1] = '\0';
    CharLowerA(expected);
    if (strcmp(value, expected) != 0) return false;
    readLowerString(HKEY_CLASSES_ROOT, id.serverKey, NULL, value);
    return strcmp(value, id.fileName) == 0;
}

void failureBox(LPCSTR pszFormat, LONG result)
{
    CHAR text[128];
    _snprintf(text, sizeof text - 1, pszFormat, int(result));
    text[sizeof text - 1] = '\0';
    MessageBoxA(NULL, text, kDriverName, MB_OK);
}

}  // namespace

LONG CreateRegKey(HKEY hRoot, LPCSTR pszParent, LPCSTR pszName)
{
    CHAR path[MAX_PATH * 2];
    _snprintf(path, sizeof path - 1, "%s\\%s", pszParent, pszName);
    path[sizeof path - 1] = '\0';
    if (keyExists(hRoot, path)) return 0;
    HKEY hParent = NULL, hKey = NULL;
    if (RegOpenKeyExA(hRoot, pszParent, 0, KEY_ALL_ACCESS, &hParent) != ERROR_SUCCESS) return -1;
    LSTATUS status =
        RegCreateKeyExA(hParent, pszName, 0, NULL, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, NULL, &hKey, NULL);
    RegCloseKey(hParent);
    if (status != ERROR_SUCCESS) return -1;
    RegCloseKey(hKey);
    return 0;
}

namespace {

// Deletes pszPath's sub-keys, children before their parents, then the key.
bool deleteTree(HKEY hRoot, LPCSTR pszPath, int depth)
{
    // Registry paths are at most 512 levels deep; this bounds the recursion
    // on a store that claims otherwise.
    if (depth > 512) return false;
    bool deleted = false;
    HKEY hKey = NULL;
    if (RegOpenKeyExA(hRoot, pszPath, 0, KEY_ALL_ACCESS, &hKey) != ERROR_SUCCESS) return false;
    CHAR child[kFileNameChars];
    // Always enumerate index 0: each deleted child shifts the rest down.
    DWORD skipped = 0;
    while (RegEnumKeyA(hKey, skipped, child, kFileNameChars) == ERROR_SUCCESS) {
        CHAR childPath[MAX_PATH * 4];
        _snprintf(childPath, sizeof childPath - 1, "%s\\%s", pszPath, child);
        childPath[sizeof childPath - 1] = '\0';
        if (deleteTree(hRoot, childPath, depth + 1)) {
            deleted = true;
        } else {
            ++skipped;
        }
    }
    RegCloseKey(hKey);
    return RegDeleteKeyA(hRoot, pszPath) == ERROR_SUCCESS || deleted;
}

}  // namespace

LONG DeleteRegTree(HKEY hRoot, LPCSTR pszParent, LPCSTR pszName)
{
    HKEY hParent = NULL;
    if (RegOpenKeyExA(hRoot, pszParent, 0, KEY_ALL_ACCESS, &hParent) != ERROR_SUCCESS) return -1;
    RegCloseKey(hParent);
    CHAR path[MAX_PATH * 2];
    _snprintf(path, sizeof path - 1, "%s\\%s", pszParent, pszName);
    path[sizeof path - 1] = '\0';
    return deleteTree(hRoot, path, 0) ? 0 : -1;
}

LONG Register(REFCLSID clsid, LPCSTR pszModulePath, LPCSTR pszName, LPCSTR pszDescription,
              LPCSTR pszThreadingModel)
{
    Identity id;
    LONG result = describe(clsid, pszModulePath, pszName, id);
    if (result != 0) return result;

    if (keyExists(HKEY_CLASSES_ROOT, id.classKey)) {
        CHAR server[kFileNameChars];
        readLowerString(HKEY_CLASSES_ROOT, id.serverKey, NULL, server);
        if (strcmp(server, id.fileName) != 0) DeleteRegTree(HKEY_CLASSES_ROOT, "CLSID", id.clsid);
    }
    // Each key written is checked: a registration that reports success must
    // leave entries hosts can create the driver from.
    if (CreateRegKey(HKEY_CLASSES_ROOT, "CLSID", id.clsid) != 0) return -1;
    setString(HKEY_CLASSES_ROOT, id.classKey, NULL, pszDescription);
    if (CreateRegKey(HKEY_CLASSES_ROOT, id.classKey, "InprocServer32") != 0) return -1;
    setString(HKEY_CLASSES_ROOT, id.serverKey, NULL, id.fileName);
    setString(HKEY_CLASSES_ROOT, id.serverKey, "ThreadingModel", pszThreadingModel);

    if (!keyExists(HKEY_LOCAL_MACHINE, kAsioParent)) {
        if (CreateRegKey(HKEY_LOCAL_MACHINE, "SOFTWARE", "ASIO") != 0) return -1;
    } else if (keyExists(HKEY_LOCAL_MACHINE, id.asioKey)) {
        DeleteRegTree(HKEY_LOCAL_MACHINE, kAsioParent, pszName);
    }
    if (CreateRegKey(HKEY_LOCAL_MACHINE, kAsioParent, pszName) != 0) return -1;
    setString(HKEY_LOCAL_MACHINE, id.asioKey, "CLSID", id.clsid);
    setString(HKEY_LOCAL_MACHINE, id.asioKey, "Description", pszDescription);
    return 0;
}

LONG Unregister(REFCLSID clsid, LPCSTR pszModulePath, LPCSTR pszName)
{
    Identity id;
    LONG result = describe(clsid, pszModulePath, pszName, id);
    if (result != 0) return result;
    if (keyExists(HKEY_CLASSES_ROOT, id.classKey)) DeleteRegTree(HKEY_CLASSES_ROOT, "CLSID", id.clsid);
    if (!keyExists(HKEY_LOCAL_MACHINE, kAsioParent)) return 0;
    if (keyExists(HKEY_LOCAL_MACHINE, id.asioKey)) DeleteRegTree(HKEY_LOCAL_MACHINE, kAsioParent, pszName);
    return 0;
}

HRESULT registerServer()
{
    Unregister(kOlderClsid, modulePath(), kOlderName);
    // A key that already leads hosts to this module needs no rewriting; one
    // whose class entries are missing or name another file does.
    if (registrationComplete(CLSID_MrvUsbAsio, kDriverName)) return 0;
    LONG result = Register(CLSID_MrvUsbAsio, modulePath(), kDriverName, kDriverName, "Apartment");
    // A value that could not be written (no rights, say) leaves no usable entry either.
    if (result == 0 && !registrationComplete(CLSID_MrvUsbAsio, kDriverName)) result = -1;
    if (result != 0) {
        failureBox("Register Server failed ! (%d)", result);
        return HRESULT(-1);
    }
    return 0;
}

HRESULT unregisterServer()
{
    LONG result = Unregister(CLSID_MrvUsbAsio, modulePath(), kDriverName);
    if (result != 0) {
        failureBox("Unregister Server failed ! (%d)", result);
        return HRESULT(-1);
    }
    return 0;
}
