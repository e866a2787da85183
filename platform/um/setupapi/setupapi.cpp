// SetupAPI over the device interfaces the kernel-streaming factories
// registered. A device information set is a snapshot of interfaces taken by
// SetupDiGetClassDevsA, or filled one at a time by
// SetupDiOpenDeviceInterfaceA. SP_DEVICE_INTERFACE_DATA.Reserved holds the
// interface's index in its set.
#include "um/advapi32/registrykey.h"
#include "um/setupapi/deviceinfoset.h"

#include <setupapi.h>

#include <cstring>
#include <vector>

namespace umsim {
namespace {

// What Windows demands in cbSize of the detail record: the padded record
// on 64-bit, DWORD plus one character on 32-bit.
constexpr DWORD kDetailHeaderSize = sizeof(void*) == 8 ? 8 : 5;

void Describe(const InterfaceEntry& entry, size_t index, PSP_DEVICE_INTERFACE_DATA data)
{
    data->InterfaceClassGuid = entry.interfaceClass;
    data->Flags = SPINT_ACTIVE;
    data->Reserved = ULONG_PTR(index + 1);
}

// The entry a SP_DEVICE_INTERFACE_DATA names, copied out under the lock.
bool EntryOf(DeviceInfoSet& set, PSP_DEVICE_INTERFACE_DATA data, InterfaceEntry* entry)
{
    if (!data || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return false;
    }
    std::lock_guard lock(set.mutex);
    if (data->Reserved == 0 || data->Reserved > set.interfaces.size()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    *entry = set.interfaces[data->Reserved - 1];
    return true;
}

}  // namespace
}  // namespace umsim

using umsim::DeviceInfoSet;

HDEVINFO WINAPI SetupDiCreateDeviceInfoList(const GUID* ClassGuid, HWND hwndParent)
{
    UNREFERENCED_PARAMETER(ClassGuid);
    UNREFERENCED_PARAMETER(hwndParent);
    SetLastError(ERROR_SUCCESS);
    return umsim::InsertHandle(std::make_shared<DeviceInfoSet>());
}

HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID* ClassGuid, PCSTR Enumerator, HWND hwndParent, DWORD Flags)
{
    UNREFERENCED_PARAMETER(hwndParent);
    if (!(Flags & DIGCF_DEVICEINTERFACE)) return umsim::DeviceNodeSet(ClassGuid, Enumerator, Flags);
    // Interfaces are enumerated by one class.
    if (!ClassGuid || (Flags & DIGCF_ALLCLASSES) || Enumerator) {
        SetLastError(ERROR_INVALID_FLAGS);
        return INVALID_HANDLE_VALUE;
    }
    auto set = std::make_shared<DeviceInfoSet>();
    uint8_t guid[16];
    memcpy(guid, ClassGuid, sizeof guid);
    // Every interface the kernel reports is one of a present device.
    for (auto& description : umsim::bridge::EnabledDeviceInterfaces(guid)) {
        set->interfaces.push_back({*ClassGuid, std::move(description)});
    }
    SetLastError(ERROR_SUCCESS);
    return umsim::InsertHandle(set);
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet)
{
    if (!umsim::LookupSet(DeviceInfoSet, "SetupDiDestroyDeviceInfoList")) return FALSE;
    umsim::RemoveHandle(DeviceInfoSet, "SetupDiDestroyDeviceInfoList");
    return TRUE;
}

BOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                        const GUID* InterfaceClassGuid, DWORD MemberIndex,
                                        PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData)
{
    auto set = umsim::LookupSet(DeviceInfoSet, "SetupDiEnumDeviceInterfaces");
    if (!set) return FALSE;
    if (!InterfaceClassGuid || !DeviceInterfaceData) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (DeviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    std::lock_guard lock(set->mutex);
    DWORD seen = 0;
    for (size_t i = 0; i < set->interfaces.size(); ++i) {
        const auto& entry = set->interfaces[i];
        if (!IsEqualGUID(entry.interfaceClass, *InterfaceClassGuid)) continue;
        if (DeviceInfoData && (DeviceInfoData->Reserved == 0 || DeviceInfoData->Reserved > set->devices.size() ||
                               set->devices[DeviceInfoData->Reserved - 1].instanceId != entry.description.instanceId)) {
            continue;
        }
        if (seen++ == MemberIndex) {
            umsim::Describe(entry, i, DeviceInterfaceData);
            return TRUE;
        }
    }
    SetLastError(ERROR_NO_MORE_ITEMS);
    return FALSE;
}

BOOL WINAPI SetupDiGetDeviceInterfaceDetailA(HDEVINFO DeviceInfoSet, PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
                                             PSP_DEVICE_INTERFACE_DETAIL_DATA_A DeviceInterfaceDetailData,
                                             DWORD DeviceInterfaceDetailDataSize, PDWORD RequiredSize,
                                             PSP_DEVINFO_DATA DeviceInfoData)
{
    auto set = umsim::LookupSet(DeviceInfoSet, "SetupDiGetDeviceInterfaceDetailA");
    if (!set) return FALSE;
    umsim::InterfaceEntry entry;
    if (!umsim::EntryOf(*set, DeviceInterfaceData, &entry)) return FALSE;
    if (!DeviceInterfaceDetailData && DeviceInterfaceDetailDataSize) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    if (DeviceInterfaceDetailData && DeviceInterfaceDetailData->cbSize != umsim::kDetailHeaderSize) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    const std::string& path = entry.description.path;
    DWORD needed = DWORD(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + path.size() + 1);
    if (RequiredSize) *RequiredSize = needed;
    size_t device;
    {
        std::lock_guard lock(set->mutex);
        device = set->AddDevice(entry.description.instanceId);
        set->devices[device].interfaceService = entry.description.service;
    }
    if (!umsim::FillDevInfo(DeviceInfoData, entry.description.instanceId, device)) return FALSE;
    if (!DeviceInterfaceDetailData || DeviceInterfaceDetailDataSize < needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    memcpy(DeviceInterfaceDetailData->DevicePath, path.c_str(), path.size() + 1);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL WINAPI SetupDiOpenDeviceInterfaceA(HDEVINFO DeviceInfoSet, PCSTR DevicePath, DWORD OpenFlags,
                                        PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData)
{
    UNREFERENCED_PARAMETER(OpenFlags);
    auto set = umsim::LookupSet(DeviceInfoSet, "SetupDiOpenDeviceInterfaceA");
    if (!set) return FALSE;
    if (!DevicePath) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (DeviceInterfaceData && DeviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    auto description = umsim::bridge::FindDeviceInterface(DevicePath);
    if (!description) {
        SetLastError(ERROR_NO_SUCH_DEVICE_INTERFACE);
        return FALSE;
    }
    // The class is the GUID the path names after its last '#'.
    GUID interfaceClass{};
    const std::string& path = description->path;
    size_t hash = path.rfind('#');
    if (hash != std::string::npos) {
        unsigned d1, d2, d3, b[8];
        if (sscanf(path.c_str() + hash + 1, "{%8x-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x}", &d1, &d2, &d3, &b[0], &b[1],
                   &b[2], &b[3], &b[4], &b[5], &b[6], &b[7]) == 11) {
            interfaceClass = {d1, WORD(d2), WORD(d3), {BYTE(b[0]), BYTE(b[1]), BYTE(b[2]), BYTE(b[3]), BYTE(b[4]),
                                                       BYTE(b[5]), BYTE(b[6]), BYTE(b[7])}};
        }
    }
    std::lock_guard lock(set->mutex);
    set->interfaces.push_back({interfaceClass, std::move(*description)});
    if (DeviceInterfaceData) umsim::Describe(set->interfaces.back(), set->interfaces.size() - 1, DeviceInterfaceData);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

HKEY WINAPI SetupDiOpenDeviceInterfaceRegKey(HDEVINFO DeviceInfoSet, PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
                                             DWORD Reserved, REGSAM samDesired)
{
    UNREFERENCED_PARAMETER(Reserved);
    auto set = umsim::LookupSet(DeviceInfoSet, "SetupDiOpenDeviceInterfaceRegKey");
    if (!set) return reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE);
    umsim::InterfaceEntry entry;
    if (!umsim::EntryOf(*set, DeviceInterfaceData, &entry)) return reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE);
    if (!umsim::bridge::RegistryKeyExists(entry.description.interfaceKey)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE);
    }
    SetLastError(ERROR_SUCCESS);
    return umsim::InsertRegistryKey(entry.description.interfaceKey, samDesired);
}
