// A registry key handle that closes itself, for the installer's writes.
#pragma once

#include <windows.h>

#include <string>

namespace umsim {

struct RegistryKey {
    HKEY handle = NULL;
    RegistryKey() = default;
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    ~RegistryKey()
    {
        if (handle) RegCloseKey(handle);
    }

    // Creates or opens the key below `root` with full access.
    bool Create(HKEY root, const std::string& path)
    {
        return RegCreateKeyExA(root, path.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &handle, NULL) == ERROR_SUCCESS;
    }
};

}  // namespace umsim
