// The Win32 registry over the emulation's one registry store. ANSI strings
// are stored as the UTF-16 the kernel reads (REG_SZ, REG_EXPAND_SZ,
// REG_MULTI_SZ).
#include "um/advapi32/registrykey.h"

#include "um/bridge/kernelbridge.h"

#include <algorithm>
#include <cstring>

namespace umsim {
namespace {

bool IsStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

std::string Join(const std::string& base, const char* sub)
{
    std::string path = base;
    if (!sub) return path;
    for (const char* p = sub; *p;) {
        while (*p == '\\') ++p;
        const char* end = p;
        while (*end && *end != '\\') ++end;
        if (end != p) path += "\\" + std::string(p, end);
        p = end;
    }
    return path;
}

// UTF-16 little-endian units from ANSI bytes; characters above 0x7F are
// taken as Latin-1, as the ANSI code page 1252 has them for letters.
std::vector<uint8_t> Widen(const BYTE* data, DWORD size)
{
    std::vector<uint8_t> wide;
    wide.reserve(size_t(size) * 2);
    for (DWORD i = 0; i < size; ++i) {
        wide.push_back(data[i]);
        wide.push_back(0);
    }
    return wide;
}

std::vector<uint8_t> Narrow(const std::vector<uint8_t>& wide)
{
    std::vector<uint8_t> narrow;
    for (size_t i = 0; i + 1 < wide.size(); i += 2) {
        unsigned unit = wide[i] | wide[i + 1] << 8;
        narrow.push_back(unit < 0x100 ? uint8_t(unit) : uint8_t('?'));
    }
    return narrow;
}

}  // namespace

std::optional<std::string> RegistryPathOf(HKEY key, const char* routine, LONG* error, REGSAM required)
{
    if (key == HKEY_LOCAL_MACHINE) return std::string("\\Registry\\Machine");
    if (key == HKEY_USERS) return std::string("\\Registry\\User");
    if (key == HKEY_CURRENT_USER) return std::string(kCurrentUserHive);
    if (key == HKEY_CLASSES_ROOT) return std::string("\\Registry\\Machine\\Software\\Classes");
    auto object = LookupHandleOf<RegistryKeyObject>(reinterpret_cast<HANDLE>(key), ObjectKind::RegistryKey, routine);
    if (!object) {
        *error = ERROR_INVALID_HANDLE;
        return std::nullopt;
    }
    if (!bridge::RegistryKeyExists(object->Path())) {
        *error = ERROR_KEY_DELETED;
        return std::nullopt;
    }
    if ((object->Access() & required) != required) {
        *error = ERROR_ACCESS_DENIED;
        return std::nullopt;
    }
    return object->Path();
}

HKEY InsertRegistryKey(const std::string& path, REGSAM access)
{
    if (access & (GENERIC_READ | MAXIMUM_ALLOWED | GENERIC_ALL)) access |= KEY_READ;
    if (access & (GENERIC_WRITE | MAXIMUM_ALLOWED | GENERIC_ALL)) access |= KEY_WRITE;
    if (access & (MAXIMUM_ALLOWED | GENERIC_ALL)) access |= KEY_ALL_ACCESS;
    return reinterpret_cast<HKEY>(InsertHandle(std::make_shared<RegistryKeyObject>(path, access)));
}

}  // namespace umsim

LSTATUS WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult)
{
    UNREFERENCED_PARAMETER(ulOptions);
    if (!phkResult) return ERROR_INVALID_PARAMETER;
    *phkResult = NULL;
    LONG error = ERROR_SUCCESS;
    auto base = umsim::RegistryPathOf(hKey, "RegOpenKeyExA", &error);
    if (!base) return error;
    std::string path = umsim::Join(*base, lpSubKey);
    if (!umsim::bridge::RegistryKeyExists(path)) return ERROR_FILE_NOT_FOUND;
    *phkResult = umsim::InsertRegistryKey(path, samDesired);
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass, DWORD dwOptions,
                               REGSAM samDesired, const LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                               LPDWORD lpdwDisposition)
{
    UNREFERENCED_PARAMETER(Reserved);
    UNREFERENCED_PARAMETER(lpClass);
    UNREFERENCED_PARAMETER(dwOptions);
    UNREFERENCED_PARAMETER(lpSecurityAttributes);
    if (!phkResult || !lpSubKey) return ERROR_INVALID_PARAMETER;
    *phkResult = NULL;
    LONG error = ERROR_SUCCESS;
    auto base = umsim::RegistryPathOf(hKey, "RegCreateKeyExA", &error);
    if (!base) return error;
    std::string path = umsim::Join(*base, lpSubKey);
    bool existed = umsim::bridge::RegistryKeyExists(path);
    if (!existed && !umsim::RegistryPathOf(hKey, "RegCreateKeyExA", &error, KEY_CREATE_SUB_KEY)) return error;
    if (!existed && !umsim::bridge::RegistryCreateKey(path)) return ERROR_ACCESS_DENIED;
    if (lpdwDisposition) *lpdwDisposition = existed ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
    *phkResult = umsim::InsertRegistryKey(path, samDesired);
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                                LPDWORD lpcbData)
{
    if (lpReserved || (lpData && !lpcbData)) return ERROR_INVALID_PARAMETER;
    LONG error = ERROR_SUCCESS;
    auto path = umsim::RegistryPathOf(hKey, "RegQueryValueExA", &error, KEY_QUERY_VALUE);
    if (!path) return error;
    auto value = umsim::bridge::RegistryGetValue(*path, lpValueName ? lpValueName : "");
    if (!value) return ERROR_FILE_NOT_FOUND;
    std::vector<uint8_t> data = umsim::IsStringType(value->type) ? umsim::Narrow(value->data) : value->data;
    if (lpType) *lpType = value->type;
    if (!lpcbData) return ERROR_SUCCESS;
    DWORD room = *lpcbData;
    *lpcbData = DWORD(data.size());
    if (!lpData) return ERROR_SUCCESS;
    if (room < data.size()) return ERROR_MORE_DATA;
    if (!data.empty()) memcpy(lpData, data.data(), data.size());
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                              DWORD cbData)
{
    UNREFERENCED_PARAMETER(Reserved);
    if (!lpData && cbData) return ERROR_NOACCESS;
    if (dwType == REG_DWORD && cbData != sizeof(DWORD)) return ERROR_INVALID_PARAMETER;
    LONG error = ERROR_SUCCESS;
    auto path = umsim::RegistryPathOf(hKey, "RegSetValueExA", &error, KEY_SET_VALUE);
    if (!path) return error;
    umsim::bridge::RegistryData value;
    value.type = dwType;
    if (umsim::IsStringType(dwType)) {
        value.data = umsim::Widen(lpData, cbData);
    } else if (cbData) {
        value.data.assign(lpData, lpData + cbData);
    }
    return umsim::bridge::RegistrySetValue(*path, lpValueName ? lpValueName : "", value) ? ERROR_SUCCESS
                                                                                         : ERROR_KEY_DELETED;
}

LSTATUS WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName)
{
    LONG error = ERROR_SUCCESS;
    auto path = umsim::RegistryPathOf(hKey, "RegDeleteValueA", &error, KEY_SET_VALUE);
    if (!path) return error;
    return umsim::bridge::RegistryDeleteValue(*path, lpValueName ? lpValueName : "") ? ERROR_SUCCESS
                                                                                      : ERROR_FILE_NOT_FOUND;
}

LSTATUS WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey)
{
    if (!lpSubKey || !*lpSubKey) return ERROR_INVALID_PARAMETER;
    LONG error = ERROR_SUCCESS;
    auto base = umsim::RegistryPathOf(hKey, "RegDeleteKeyA", &error);
    if (!base) return error;
    std::string path = umsim::Join(*base, lpSubKey);
    if (!umsim::bridge::RegistryKeyExists(path)) return ERROR_FILE_NOT_FOUND;
    // Only a key without subkeys can be deleted this way.
    if (umsim::bridge::RegistryHasSubkeys(path)) return ERROR_ACCESS_DENIED;
    return umsim::bridge::RegistryDeleteKey(path) ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

LSTATUS WINAPI RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                             LPSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime)
{
    if (!lpName || !lpcchName || lpReserved) return ERROR_INVALID_PARAMETER;
    LONG error = ERROR_SUCCESS;
    auto path = umsim::RegistryPathOf(hKey, "RegEnumKeyExA", &error, KEY_ENUMERATE_SUB_KEYS);
    if (!path) return error;
    std::vector<std::string> names = umsim::bridge::RegistrySubkeys(*path);
    if (dwIndex >= names.size()) return ERROR_NO_MORE_ITEMS;
    const std::string& name = names[dwIndex];
    // The room counts the terminator; the result does not.
    if (name.size() >= *lpcchName) return ERROR_MORE_DATA;
    memcpy(lpName, name.c_str(), name.size() + 1);
    *lpcchName = DWORD(name.size());
    if (lpClass && lpcchClass && *lpcchClass) *lpClass = 0;  // keys have no class here
    if (lpcchClass) *lpcchClass = 0;
    if (lpftLastWriteTime) *lpftLastWriteTime = FILETIME{};
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegEnumKeyA(HKEY hKey, DWORD dwIndex, LPSTR lpName, DWORD cchName)
{
    return RegEnumKeyExA(hKey, dwIndex, lpName, &cchName, NULL, NULL, NULL, NULL);
}

LSTATUS WINAPI RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved, LPDWORD lpcSubKeys,
                                LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen, LPDWORD lpcValues,
                                LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen,
                                LPDWORD lpcbSecurityDescriptor, PFILETIME lpftLastWriteTime)
{
    if (lpReserved || (lpClass && !lpcchClass)) return ERROR_INVALID_PARAMETER;
    LONG error = ERROR_SUCCESS;
    auto path = umsim::RegistryPathOf(hKey, "RegQueryInfoKeyA", &error, KEY_QUERY_VALUE);
    if (!path) return error;
    std::vector<std::string> subkeys = umsim::bridge::RegistrySubkeys(*path);
    std::vector<std::string> values = umsim::bridge::RegistryValueNames(*path);
    DWORD maxSubkey = 0, maxName = 0, maxData = 0;
    for (const std::string& name : subkeys) maxSubkey = std::max(maxSubkey, DWORD(name.size()));
    for (const std::string& name : values) {
        maxName = std::max(maxName, DWORD(name.size()));
        if (auto value = umsim::bridge::RegistryGetValue(*path, name)) {
            // ANSI strings take half the bytes of the stored UTF-16.
            size_t size = umsim::IsStringType(value->type) ? value->data.size() / 2 : value->data.size();
            maxData = std::max(maxData, DWORD(size));
        }
    }
    if (lpClass && *lpcchClass) *lpClass = 0;
    if (lpcchClass) *lpcchClass = 0;
    if (lpcSubKeys) *lpcSubKeys = DWORD(subkeys.size());
    if (lpcbMaxSubKeyLen) *lpcbMaxSubKeyLen = maxSubkey;
    if (lpcbMaxClassLen) *lpcbMaxClassLen = 0;
    if (lpcValues) *lpcValues = DWORD(values.size());
    if (lpcbMaxValueNameLen) *lpcbMaxValueNameLen = maxName;
    if (lpcbMaxValueLen) *lpcbMaxValueLen = maxData;
    if (lpcbSecurityDescriptor) *lpcbSecurityDescriptor = 0;
    if (lpftLastWriteTime) *lpftLastWriteTime = FILETIME{};
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegCloseKey(HKEY hKey)
{
    if (hKey == HKEY_LOCAL_MACHINE || hKey == HKEY_CURRENT_USER || hKey == HKEY_USERS || hKey == HKEY_CLASSES_ROOT) {
        return ERROR_SUCCESS;
    }
    HANDLE handle = reinterpret_cast<HANDLE>(hKey);
    if (!umsim::LookupHandleOf<umsim::RegistryKeyObject>(handle, umsim::ObjectKind::RegistryKey, "RegCloseKey")) {
        return ERROR_INVALID_HANDLE;
    }
    umsim::RemoveHandle(handle, "RegCloseKey");
    return ERROR_SUCCESS;
}
