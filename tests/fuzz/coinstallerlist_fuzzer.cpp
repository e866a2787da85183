// The co-installer's registration over an arbitrary registry value: any
// type and bytes under the class's name, then register or unregister for
// an arbitrary text. Afterwards a REG_MULTI_SZ value is a well-formed list
// (or gone, after unregistering), and a value of any other type is as it was.
#include "fuzzinput.h"
#include "ownfilename.h"
#include "registration.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

const char kKey[] = "SYSTEM\\CurrentControlSet\\Control\\CoDeviceInstallers";

bool WellFormedList(const std::string& bytes)
{
    if (bytes.empty() || bytes.back() != '\0') return false;
    // Strings end with their NULs, the list with the only empty string.
    size_t empty = bytes.find(std::string("\0\0", 2));
    return bytes.size() == 1 ? true : empty != std::string::npos && empty + 2 == bytes.size() && bytes[0] != '\0';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const uint8_t type = Take<uint8_t>(data, size) % 12;
    const uint8_t action = Take<uint8_t>(data, size);
    const size_t nameLength = Take<uint8_t>(data, size);
    std::string name(reinterpret_cast<const char*>(data), nameLength < size ? nameLength : size);
    data += name.size();
    size -= name.size();
    name = name.c_str();
    const std::string value(reinterpret_cast<const char*>(data), size);

    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL) != ERROR_SUCCESS) {
        __builtin_trap();
    }
    bool stored = RegSetValueExA(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(value.data()),
                                 DWORD(value.size())) == ERROR_SUCCESS;
    RememberOwnFileName(action & 2 ? "C:\\Windows\\System32\\mrvusbaudio_coinst.dll" : "C:\\Windows\\System32\\MRVUSBAU");
    if (action & 1) {
        UnregisterClassCoInstaller(name.c_str());
    } else {
        RegisterClassCoInstaller(name.c_str());
    }

    DWORD afterType = 0, afterSize = 0;
    if (RegQueryValueExA(key, name.c_str(), NULL, &afterType, NULL, &afterSize) == ERROR_SUCCESS) {
        std::string after(afterSize, '\0');
        RegQueryValueExA(key, name.c_str(), NULL, &afterType, reinterpret_cast<BYTE*>(after.data()), &afterSize);
        if (stored && type != REG_MULTI_SZ && (afterType != type || after != value)) __builtin_trap();
        if (afterType == REG_MULTI_SZ && after != value && !WellFormedList(after)) __builtin_trap();
    } else if (stored && type != REG_MULTI_SZ) {
        __builtin_trap();  // a value of another type is never deleted
    }
    RegDeleteValueA(key, name.c_str());
    RegCloseKey(key);
    ForgetOwnFileName();
    return 0;
}
