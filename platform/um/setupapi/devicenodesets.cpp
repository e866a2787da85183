// Device information sets over device nodes: SetupDiGetClassDevsA without
// DIGCF_DEVICEINTERFACE, the device records and the node's registry
// properties. Present devices are those plugged now; DIGCF_ALLCLASSES
// without DIGCF_PRESENT also lists phantoms (nodes of unplugged devices).
#include "um/setupapi/deviceinfoset.h"

#include "um/cfgmgr32/devinst.h"

#include <algorithm>
#include <cstring>

namespace umsim {
namespace {

constexpr char kEnumKey[] = "SYSTEM\\CurrentControlSet\\Enum\\";
constexpr char kEnumStorePath[] = "\\Registry\\Machine\\System\\CurrentControlSet\\Enum";

struct PropertyValue {
    const char* name;
    DWORD type;
};

// The node values behind the properties; type REG_NONE for the others.
PropertyValue PropertyOf(DWORD property)
{
    switch (property) {
    case SPDRP_DEVICEDESC: return {"DeviceDesc", REG_SZ};
    case SPDRP_HARDWAREID: return {"HardwareID", REG_MULTI_SZ};
    case SPDRP_COMPATIBLEIDS: return {"CompatibleIDs", REG_MULTI_SZ};
    case SPDRP_SERVICE: return {"Service", REG_SZ};
    case SPDRP_CLASS: return {"Class", REG_SZ};
    case SPDRP_CLASSGUID: return {"ClassGUID", REG_SZ};
    case SPDRP_DRIVER: return {"Driver", REG_SZ};
    case SPDRP_CONFIGFLAGS: return {"ConfigFlags", REG_DWORD};
    case SPDRP_MFG: return {"Mfg", REG_SZ};
    case SPDRP_FRIENDLYNAME: return {"FriendlyName", REG_SZ};
    default: return {nullptr, REG_NONE};
    }
}

bool SameText(const std::string& a, const std::string& b) { return strcasecmp(a.c_str(), b.c_str()) == 0; }

std::vector<std::string> NodeIds(PCSTR enumerator)
{
    std::vector<std::string> enumerators;
    if (enumerator) {
        enumerators.push_back(enumerator);
    } else {
        enumerators = bridge::RegistrySubkeys(kEnumStorePath);
    }
    std::vector<std::string> ids;
    for (const std::string& top : enumerators) {
        std::string base = std::string(kEnumStorePath) + "\\" + top;
        for (const std::string& device : bridge::RegistrySubkeys(base)) {
            for (const std::string& instance : bridge::RegistrySubkeys(base + "\\" + device)) {
                ids.push_back(top + "\\" + device + "\\" + instance);
            }
        }
    }
    return ids;
}

// A node value read as user mode reads it (strings narrowed).
std::optional<std::vector<BYTE>> NodeValue(const std::string& instanceId, const char* name, DWORD* type)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, (kEnumKey + instanceId).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    DWORD size = 0;
    std::optional<std::vector<BYTE>> value;
    if (RegQueryValueExA(key, name, NULL, type, NULL, &size) == ERROR_SUCCESS) {
        std::vector<BYTE> data(size);
        if (RegQueryValueExA(key, name, NULL, type, data.data(), &size) == ERROR_SUCCESS) {
            data.resize(size);
            value = std::move(data);
        }
    }
    RegCloseKey(key);
    return value;
}

bool ParseGuid(const std::string& text, GUID* guid)
{
    unsigned d1, d2, d3, b[8];
    if (sscanf(text.c_str(), "{%8x-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x}", &d1, &d2, &d3, &b[0], &b[1], &b[2], &b[3],
               &b[4], &b[5], &b[6], &b[7]) != 11) {
        return false;
    }
    *guid = {d1, WORD(d2), WORD(d3),
             {BYTE(b[0]), BYTE(b[1]), BYTE(b[2]), BYTE(b[3]), BYTE(b[4]), BYTE(b[5]), BYTE(b[6]), BYTE(b[7])}};
    return true;
}

GUID NodeClass(const std::string& instanceId)
{
    GUID guid{};
    DWORD type = 0;
    auto value = NodeValue(instanceId, "ClassGUID", &type);
    if (value && type == REG_SZ) ParseGuid(std::string(value->begin(), std::find(value->begin(), value->end(), 0)), &guid);
    return guid;
}

}  // namespace

size_t DeviceInfoSet::AddDevice(const std::string& instanceId)
{
    for (size_t i = 0; i < devices.size(); ++i) {
        if (SameText(devices[i].instanceId, instanceId)) return i;
    }
    devices.push_back({instanceId, {}, {}});
    return devices.size() - 1;
}

std::shared_ptr<DeviceInfoSet> LookupSet(HDEVINFO set, const char* routine)
{
    return LookupHandleOf<DeviceInfoSet>(set, ObjectKind::DeviceInfoSet, routine);
}

bool DeviceIndexOf(DeviceInfoSet& set, PSP_DEVINFO_DATA info, size_t* index)
{
    if (!info || info->cbSize != sizeof(SP_DEVINFO_DATA)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return false;
    }
    if (info->Reserved == 0 || info->Reserved > set.devices.size()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    *index = info->Reserved - 1;
    return true;
}

bool DeviceOf(DeviceInfoSet& set, PSP_DEVINFO_DATA info, DeviceEntry* device)
{
    std::lock_guard lock(set.mutex);
    size_t index;
    if (!DeviceIndexOf(set, info, &index)) return false;
    *device = set.devices[index];
    return true;
}

bool FillDevInfo(PSP_DEVINFO_DATA info, const std::string& instanceId, size_t index)
{
    if (!info) return true;
    if (info->cbSize != sizeof(SP_DEVINFO_DATA)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return false;
    }
    info->ClassGuid = NodeClass(instanceId);
    info->DevInst = DevInstOf(instanceId);
    info->Reserved = ULONG_PTR(index + 1);
    return true;
}

std::string DeviceNodePath(const std::string& instanceId) { return kEnumKey + instanceId; }

std::vector<std::string> DeviceNodeIds(const std::string& instanceId, const char* value)
{
    std::vector<std::string> ids;
    DWORD type = 0;
    auto data = NodeValue(instanceId, value, &type);
    if (!data || type != REG_MULTI_SZ) return ids;
    data->push_back(0);  // a value without its closing NULs ends here
    data->push_back(0);
    for (const char* id = reinterpret_cast<const char*>(data->data()); *id; id += strlen(id) + 1) ids.push_back(id);
    return ids;
}

// The device and the node value of a property call; false with the error
// set when either is not one.
bool PropertyOfDevice(HDEVINFO handle, const char* routine, PSP_DEVINFO_DATA info, DWORD code, DeviceEntry* device,
                      PropertyValue* property)
{
    auto set = LookupSet(handle, routine);
    if (!set || !DeviceOf(*set, info, device)) return false;
    *property = PropertyOf(code);
    if (!property->name) {
        SetLastError(ERROR_INVALID_REG_PROPERTY);
        return false;
    }
    return true;
}

HDEVINFO DeviceNodeSet(const GUID* classGuid, PCSTR enumerator, DWORD flags)
{
    if (!classGuid && !(flags & DIGCF_ALLCLASSES)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::vector<std::string> present = bridge::PresentDeviceNodes();
    auto set = std::make_shared<DeviceInfoSet>();
    for (const std::string& id : NodeIds(enumerator)) {
        bool isPresent = std::any_of(present.begin(), present.end(), [&](const auto& p) { return SameText(p, id); });
        if ((flags & DIGCF_PRESENT) && !isPresent) continue;
        if (!(flags & DIGCF_ALLCLASSES) && !IsEqualGUID(NodeClass(id), *classGuid)) continue;
        set->AddDevice(id);
    }
    SetLastError(ERROR_SUCCESS);
    return InsertHandle(set);
}

}  // namespace umsim

BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO DeviceInfoSet, DWORD MemberIndex, PSP_DEVINFO_DATA DeviceInfoData)
{
    auto set = umsim::LookupSet(DeviceInfoSet, "SetupDiEnumDeviceInfo");
    if (!set) return FALSE;
    if (!DeviceInfoData || DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    std::string instanceId;
    {
        std::lock_guard lock(set->mutex);
        if (MemberIndex >= set->devices.size()) {
            SetLastError(ERROR_NO_MORE_ITEMS);
            return FALSE;
        }
        instanceId = set->devices[MemberIndex].instanceId;
    }
    umsim::FillDevInfo(DeviceInfoData, instanceId, MemberIndex);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL WINAPI SetupDiGetDeviceInstanceIdA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, PSTR DeviceInstanceId,
                                        DWORD DeviceInstanceIdSize, PDWORD RequiredSize)
{
    auto set = umsim::LookupSet(DeviceInfoSet, "SetupDiGetDeviceInstanceIdA");
    if (!set) return FALSE;
    umsim::DeviceEntry device;
    if (!umsim::DeviceOf(*set, DeviceInfoData, &device)) return FALSE;
    DWORD needed = DWORD(device.instanceId.size() + 1);
    if (RequiredSize) *RequiredSize = needed;
    if (!DeviceInstanceId || DeviceInstanceIdSize < needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    memcpy(DeviceInstanceId, device.instanceId.c_str(), needed);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL WINAPI SetupDiGetDeviceRegistryPropertyA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD Property,
                                              PDWORD PropertyRegDataType, PBYTE PropertyBuffer,
                                              DWORD PropertyBufferSize, PDWORD RequiredSize)
{
    umsim::DeviceEntry device;
    umsim::PropertyValue property;
    if (!umsim::PropertyOfDevice(DeviceInfoSet, "SetupDiGetDeviceRegistryPropertyA", DeviceInfoData, Property, &device,
                                 &property)) {
        return FALSE;
    }
    DWORD type = 0;
    auto value = umsim::NodeValue(device.instanceId, property.name, &type);
    if (!value && Property == SPDRP_SERVICE && !device.interfaceService.empty()) {
        // A device bound without installation still names its driver's service.
        value = std::vector<BYTE>(device.interfaceService.begin(), device.interfaceService.end());
        value->push_back(0);
        type = REG_SZ;
    }
    if (!value) {
        SetLastError(ERROR_INVALID_DATA);  // what Windows says of a property the device lacks
        return FALSE;
    }
    DWORD needed = DWORD(value->size());
    if (PropertyRegDataType) *PropertyRegDataType = type;
    if (RequiredSize) *RequiredSize = needed;
    if (!PropertyBuffer || PropertyBufferSize < needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    memcpy(PropertyBuffer, value->data(), needed);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL WINAPI SetupDiSetDeviceRegistryPropertyA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD Property,
                                              const BYTE* PropertyBuffer, DWORD PropertyBufferSize)
{
    umsim::DeviceEntry device;
    umsim::PropertyValue property;
    if (!umsim::PropertyOfDevice(DeviceInfoSet, "SetupDiSetDeviceRegistryPropertyA", DeviceInfoData, Property, &device,
                                 &property)) {
        return FALSE;
    }
    if ((PropertyBufferSize && !PropertyBuffer) ||
        (property.type == REG_DWORD && PropertyBuffer && PropertyBufferSize != sizeof(DWORD))) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    HKEY key;
    LONG error = RegOpenKeyExA(HKEY_LOCAL_MACHINE, umsim::DeviceNodePath(device.instanceId).c_str(), 0,
                               KEY_SET_VALUE, &key);
    if (error != ERROR_SUCCESS) {
        SetLastError(ERROR_NO_SUCH_DEVINST);
        return FALSE;
    }
    // No data removes the property.
    error = PropertyBuffer ? RegSetValueExA(key, property.name, 0, property.type, PropertyBuffer, PropertyBufferSize)
                           : RegDeleteValueA(key, property.name);
    RegCloseKey(key);
    if (error == ERROR_FILE_NOT_FOUND) error = ERROR_SUCCESS;
    SetLastError(DWORD(error));
    return error == ERROR_SUCCESS;
}
