// Device nodes in the registry store.
#include "km/devicenodes.h"

#include "km/registrystore.h"
#include "km/utf16.h"

#include <cstdio>

namespace kmsim {

std::vector<uint8_t> EncodeMultiString(const std::vector<std::string>& strings)
{
    std::u16string text;
    for (const std::string& s : strings) {
        text += Utf8ToUtf16(s);
        text += u'\0';
    }
    text += u'\0';
    std::vector<uint8_t> data(text.size() * 2);
    for (size_t i = 0; i < text.size(); ++i) {
        data[2 * i] = uint8_t(text[i]);
        data[2 * i + 1] = uint8_t(text[i] >> 8);
    }
    return data;
}

void RecordDeviceNode(const std::string& instanceId, const std::vector<std::string>& hardwareIds,
                      const std::vector<std::string>& compatibleIds)
{
    std::string key = kEnumPath + instanceId;
    bool isNew = !KeyExists(key);
    CreateKey(key);
    SetValue(key, "HardwareID", REG_MULTI_SZ, EncodeMultiString(hardwareIds));
    SetValue(key, "CompatibleIDs", REG_MULTI_SZ, EncodeMultiString(compatibleIds));
    if (isNew || !GetDword(key, "ConfigFlags")) SetDword(key, "ConfigFlags", 0);
}

std::optional<std::string> DeviceNodeString(const std::string& instanceId, const std::string& name)
{
    return GetString(kEnumPath + instanceId, name);
}

uint32_t DeviceNodeConfigFlags(const std::string& instanceId)
{
    return GetDword(kEnumPath + instanceId, "ConfigFlags").value_or(0);
}

void SetDeviceNodeConfigFlags(const std::string& instanceId, uint32_t flags)
{
    SetDword(kEnumPath + instanceId, "ConfigFlags", flags);
}

std::string AssignDriverKey(const std::string& instanceId, const std::string& classGuid)
{
    std::string enumKey = kEnumPath + instanceId;
    if (auto driver = GetString(enumKey, "Driver")) return *driver;
    std::string classKey = kClassPath + classGuid;
    for (int number = 0;; ++number) {
        char name[16];
        snprintf(name, sizeof name, "%04d", number);
        if (KeyExists(classKey + "\\" + name)) continue;
        CreateKey(classKey + "\\" + name);
        CreateKey(enumKey);
        std::string relative = classGuid + "\\" + name;
        SetString(enumKey, "Driver", relative);
        return relative;
    }
}

}  // namespace kmsim
