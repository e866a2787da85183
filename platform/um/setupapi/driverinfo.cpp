// Compatible-driver lists of a set's devices: built over the INF folder,
// enumerated, detailed, and their install parameters (rank, flags) read
// and changed, as class co-installers do while a driver is selected.
#include "um/setupapi/deviceinfoset.h"

#include <cstring>

namespace umsim {
namespace {

// The hardware id list of a node: its hardware id, then its compatible
// ids, each with its NUL, and the closing NUL.
std::string IdList(const DriverNode& node)
{
    std::string list;
    for (const std::string& id : node.ids) list += id + '\0';
    return list + '\0';
}

void CopyText(char* target, size_t size, const std::string& text)
{
    size_t length = std::min(text.size(), size - 1);
    memcpy(target, text.data(), length);
    target[length] = '\0';
}

}  // namespace

// The INF files a device's driver list is built from: the one its install
// parameters name with DI_ENUMSINGLEINF, those of the folder they name,
// else the system's INF folder.
std::vector<std::string> DriverSearchFiles(const DeviceInstallParams& params)
{
    if (params.flags & DI_ENUMSINGLEINF) return {params.driverPath};
    return params.driverPath.empty() ? InfFolderFiles() : InfFiles(params.driverPath);
}

namespace {

// The driver node a SP_DRVINFO_DATA names in the device's list; the
// caller holds the set's lock.
DriverNode* NodeOf(DeviceInfoSet& set, PSP_DEVINFO_DATA info, PSP_DRVINFO_DATA_A driver)
{
    size_t index;
    if (!DeviceIndexOf(set, info, &index)) return nullptr;
    if (!driver || driver->cbSize != sizeof(SP_DRVINFO_DATA_V2_A)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return nullptr;
    }
    std::vector<DriverNode>& drivers = set.devices[index].drivers;
    if (driver->Reserved == 0 || driver->Reserved > drivers.size()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return &drivers[driver->Reserved - 1];
}

}  // namespace
}  // namespace umsim

using umsim::DriverNode;

BOOL WINAPI SetupDiBuildDriverInfoList(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD DriverType)
{
    auto set = umsim::LookupSet(DeviceInfoSet, "SetupDiBuildDriverInfoList");
    if (!set) return FALSE;
    if (DriverType != SPDIT_COMPATDRIVER) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    umsim::DeviceEntry device;
    if (!umsim::DeviceOf(*set, DeviceInfoData, &device)) return FALSE;
    // Read outside the set's lock: INF files may be large.
    std::vector<DriverNode> drivers =
        umsim::CompatibleDrivers(umsim::DeviceNodeIds(device.instanceId, "HardwareID"),
                                 umsim::DeviceNodeIds(device.instanceId, "CompatibleIDs"),
                                 umsim::DriverSearchFiles(device.installParams));
    std::lock_guard lock(set->mutex);
    size_t index;
    if (!umsim::DeviceIndexOf(*set, DeviceInfoData, &index)) return FALSE;
    set->devices[index].drivers = std::move(drivers);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL WINAPI SetupDiDestroyDriverInfoList(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD DriverType)
{
    auto set = umsim::LookupSet(DeviceInfoSet, "SetupDiDestroyDriverInfoList");
    if (!set) return FALSE;
    UNREFERENCED_PARAMETER(DriverType);
    std::lock_guard lock(set->mutex);
    size_t index;
    if (!umsim::DeviceIndexOf(*set, DeviceInfoData, &index)) return FALSE;
    set->devices[index].drivers.clear();
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL WINAPI SetupDiEnumDriverInfoA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD DriverType,
                                   DWORD MemberIndex, PSP_DRVINFO_DATA_A DriverInfoData)
{
    auto set = umsim::LookupSet(DeviceInfoSet, "SetupDiEnumDriverInfoA");
    if (!set) return FALSE;
    if (DriverType != SPDIT_COMPATDRIVER) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!DriverInfoData || DriverInfoData->cbSize != sizeof(SP_DRVINFO_DATA_V2_A)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    std::lock_guard lock(set->mutex);
    size_t index;
    if (!umsim::DeviceIndexOf(*set, DeviceInfoData, &index)) return FALSE;
    const std::vector<DriverNode>& drivers = set->devices[index].drivers;
    if (MemberIndex >= drivers.size()) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    const DriverNode& node = drivers[MemberIndex];
    DriverInfoData->DriverType = SPDIT_COMPATDRIVER;
    DriverInfoData->Reserved = ULONG_PTR(MemberIndex + 1);
    umsim::CopyText(DriverInfoData->Description, LINE_LEN, node.description);
    umsim::CopyText(DriverInfoData->MfgName, LINE_LEN, node.manufacturer);
    umsim::CopyText(DriverInfoData->ProviderName, LINE_LEN, node.provider);
    DriverInfoData->DriverDate = node.date;
    DriverInfoData->DriverVersion = node.version;
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL WINAPI SetupDiGetDriverInfoDetailA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                        PSP_DRVINFO_DATA_A DriverInfoData,
                                        PSP_DRVINFO_DETAIL_DATA_A DriverInfoDetailData, DWORD DriverInfoDetailDataSize,
                                        PDWORD RequiredSize)
{
    auto set = umsim::LookupSet(DeviceInfoSet, "SetupDiGetDriverInfoDetailA");
    if (!set) return FALSE;
    constexpr DWORD kFixedSize = offsetof(SP_DRVINFO_DETAIL_DATA_A, HardwareID);
    if (DriverInfoDetailData && (DriverInfoDetailData->cbSize != sizeof(SP_DRVINFO_DETAIL_DATA_A) ||
                                 DriverInfoDetailDataSize < sizeof(SP_DRVINFO_DETAIL_DATA_A))) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    if (!DriverInfoDetailData && DriverInfoDetailDataSize) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::lock_guard lock(set->mutex);
    DriverNode* node = umsim::NodeOf(*set, DeviceInfoData, DriverInfoData);
    if (!node) return FALSE;
    std::string ids = umsim::IdList(*node);
    DWORD needed = kFixedSize + DWORD(ids.size());
    if (RequiredSize) *RequiredSize = needed;
    if (!DriverInfoDetailData) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    // The fixed part is filled even when the id list does not fit.
    DriverInfoDetailData->InfDate = node->date;
    size_t hardwareIdLength = node->ids.empty() ? 0 : node->ids[0].size() + 1;
    bool hasCompatible = node->ids.size() > 1;
    DriverInfoDetailData->CompatIDsOffset = hasCompatible ? DWORD(hardwareIdLength) : 0;
    DriverInfoDetailData->CompatIDsLength = hasCompatible ? DWORD(ids.size() - hardwareIdLength) : 0;
    DriverInfoDetailData->Reserved = 0;
    umsim::CopyText(DriverInfoDetailData->SectionName, LINE_LEN, node->installSection);
    umsim::CopyText(DriverInfoDetailData->InfFileName, MAX_PATH, node->infPath);
    umsim::CopyText(DriverInfoDetailData->DrvDescription, LINE_LEN, node->description);
    if (DriverInfoDetailDataSize < needed) {
        DriverInfoDetailData->HardwareID[0] = '\0';
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    memcpy(DriverInfoDetailData->HardwareID, ids.data(), ids.size());
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

namespace umsim {
namespace {

// Runs `use` on the node the install-parameters call names, under the
// set's lock.
template <typename Use>
BOOL WithDriverParams(HDEVINFO handle, const char* routine, PSP_DEVINFO_DATA device, PSP_DRVINFO_DATA_A driver,
                      PSP_DRVINSTALL_PARAMS params, Use use)
{
    auto set = LookupSet(handle, routine);
    if (!set) return FALSE;
    if (!params || params->cbSize != sizeof(SP_DRVINSTALL_PARAMS)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    std::lock_guard lock(set->mutex);
    DriverNode* node = NodeOf(*set, device, driver);
    if (!node) return FALSE;
    use(*node);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

}  // namespace
}  // namespace umsim

BOOL WINAPI SetupDiGetDriverInstallParamsA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                           PSP_DRVINFO_DATA_A DriverInfoData, PSP_DRVINSTALL_PARAMS DriverInstallParams)
{
    return umsim::WithDriverParams(DeviceInfoSet, "SetupDiGetDriverInstallParamsA", DeviceInfoData, DriverInfoData,
                                   DriverInstallParams, [&](const DriverNode& node) {
                                       DriverInstallParams->Rank = node.rank;
                                       DriverInstallParams->Flags = node.flags;
                                       DriverInstallParams->PrivateData = 0;
                                       DriverInstallParams->Reserved = 0;
                                   });
}

BOOL WINAPI SetupDiSetDriverInstallParamsA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                           PSP_DRVINFO_DATA_A DriverInfoData, PSP_DRVINSTALL_PARAMS DriverInstallParams)
{
    return umsim::WithDriverParams(DeviceInfoSet, "SetupDiSetDriverInstallParamsA", DeviceInfoData, DriverInfoData,
                                   DriverInstallParams, [&](DriverNode& node) {
                                       node.rank = DriverInstallParams->Rank;
                                       node.flags = DriverInstallParams->Flags;
                                   });
}
