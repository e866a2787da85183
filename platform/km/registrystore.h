// The emulated registry: one store of keys and values shared by the kernel
// (Zw* routines) and user mode, addressed by case-insensitive paths such as
// "\\Registry\\Machine\\System\\CurrentControlSet\\Services\\x\\Parameters".
// It can be saved to and loaded from a directory (a virtual Windows root) so
// that separate processes share state.
#pragma once

#include <wdm.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kmsim {

struct RegistryValue {
    ULONG type = REG_NONE;
    std::vector<uint8_t> data;
};

// Paths use backslashes; empty components are ignored. Every operation is
// thread-safe. Mutators return false when the path names no key (or, for
// CreateKey, when it is empty).
bool CreateKey(const std::string& path);  // creates missing parents too
bool KeyExists(const std::string& path);
bool DeleteKey(const std::string& path);  // with all its subkeys
bool SetValue(const std::string& path, const std::string& name, ULONG type, const std::vector<uint8_t>& data);
bool SetDword(const std::string& path, const std::string& name, uint32_t value);
// Stored as REG_SZ in UTF-16 with its terminator.
bool SetString(const std::string& path, const std::string& name, const std::string& utf8);
std::optional<RegistryValue> GetValue(const std::string& path, const std::string& name);
std::optional<uint32_t> GetDword(const std::string& path, const std::string& name);
// A REG_SZ or REG_EXPAND_SZ value as UTF-8, without its terminator.
std::optional<std::string> GetString(const std::string& path, const std::string& name);
bool DeleteValue(const std::string& path, const std::string& name);
// Names as they were created, in case-insensitive order.
std::vector<std::string> ListSubkeys(const std::string& path);
std::vector<std::string> ListValues(const std::string& path);
// Leaves only the roots "\\Registry\\Machine" and "\\Registry\\User".
void Clear();

// The store as one file in the directory. Save replaces the file in one
// step; Load replaces the store only if the whole file reads back, and
// otherwise leaves it as it was and says why in *error. A directory without
// the file loads as an empty registry.
bool SaveTo(const std::string& directory, std::string* error = nullptr);
bool LoadFrom(const std::string& directory, std::string* error = nullptr);

// Where IoOpenDeviceRegistryKey and IoOpenDeviceInterfaceRegistryKey lead:
// bindings made by the PnP manager (or a test) per physical device object
// and per device-interface symbolic link. The keys are created on first open.
void BindDeviceRegistryKeys(PDEVICE_OBJECT pdo, std::string deviceKeyPath, std::string driverKeyPath);
void UnbindDeviceRegistryKeys(PDEVICE_OBJECT pdo);
void BindInterfaceRegistryKey(std::u16string symbolicLink, std::string keyPath);
void UnbindInterfaceRegistryKey(const std::u16string& symbolicLink);

// ---- For the Zw* routines and user mode's registry: keys by identity ----
// A key object stays valid while referenced, even after its key is deleted
// (operations on it then fail, as with an open handle to a deleted key).
struct RegistryKey;
using RegistryKeyRef = std::shared_ptr<RegistryKey>;
RegistryKeyRef OpenRegistryKey(const std::string& path);
// Creates the key; the parent must exist unless createParents is set.
// *created tells whether it is new.
RegistryKeyRef CreateRegistryKey(const std::string& path, bool createParents, bool* created = nullptr);
std::string RegistryKeyPath(const RegistryKeyRef& key);
bool RegistryKeyDeleted(const RegistryKeyRef& key);
std::optional<RegistryValue> GetKeyValue(const RegistryKeyRef& key, const std::string& name);
bool SetKeyValue(const RegistryKeyRef& key, const std::string& name, RegistryValue value);
bool DeleteKeyValue(const RegistryKeyRef& key, const std::string& name);
// Joins a path relative to a key, e.g. for RootDirectory-relative names.
std::string JoinRegistryPath(const std::string& base, const std::string& relative);

}  // namespace kmsim
