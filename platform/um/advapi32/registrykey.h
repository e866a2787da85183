// Registry key handles: a path in the store the kernel uses. The
// predefined roots map to "\Registry\Machine" and friends.
#pragma once

#include "um/handletable.h"

#include <optional>

namespace umsim {

class RegistryKeyObject : public HandleObject {
public:
    explicit RegistryKeyObject(std::string path, REGSAM access)
        : HandleObject(ObjectKind::RegistryKey), m_path(std::move(path)), m_access(access) {}
    const std::string& Path() const { return m_path; }
    REGSAM Access() const { return m_access; }

private:
    std::string m_path;
    REGSAM m_access;
};

constexpr char kCurrentUserHive[] = "\\Registry\\User\\S-1-5-21-0-0-0-1001";

// Store path of a key handle (predefined or opened), or nullopt with the
// Win32 error in *error: ERROR_ACCESS_DENIED when the handle was not opened
// with every right in `required`. The predefined roots have every right.
std::optional<std::string> RegistryPathOf(HKEY key, const char* routine, LONG* error, REGSAM required = 0);
// Opens a key at a store path as a new handle, with the access asked for
// (generic rights mapped to the key rights they stand for).
HKEY InsertRegistryKey(const std::string& path, REGSAM access);

}  // namespace umsim
