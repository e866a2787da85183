// The user-mode registry's access to the one store the kernel uses.
#include <wdm.h>

#include "km/registrystore.h"
#include "um/bridge/kernelbridge.h"

namespace umsim::bridge {

bool RegistryKeyExists(const std::string& path) { return kmsim::KeyExists(path); }
bool RegistryCreateKey(const std::string& path) { return kmsim::CreateKey(path); }
bool RegistryDeleteKey(const std::string& path) { return kmsim::DeleteKey(path); }
bool RegistryHasSubkeys(const std::string& path) { return !kmsim::ListSubkeys(path).empty(); }

std::optional<RegistryData> RegistryGetValue(const std::string& path, const std::string& name)
{
    auto value = kmsim::GetValue(path, name);
    if (!value) return std::nullopt;
    return RegistryData{value->type, std::move(value->data)};
}

bool RegistrySetValue(const std::string& path, const std::string& name, const RegistryData& value)
{
    return kmsim::SetValue(path, name, value.type, value.data);
}

bool RegistryDeleteValue(const std::string& path, const std::string& name)
{
    return kmsim::DeleteValue(path, name);
}

std::vector<std::string> RegistrySubkeys(const std::string& path) { return kmsim::ListSubkeys(path); }
std::vector<std::string> RegistryValueNames(const std::string& path) { return kmsim::ListValues(path); }
bool RegistrySave(const std::string& directory, std::string* error) { return kmsim::SaveTo(directory, error); }
bool RegistryLoad(const std::string& directory, std::string* error) { return kmsim::LoadFrom(directory, error); }

}  // namespace umsim::bridge
