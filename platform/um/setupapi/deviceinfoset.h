// Device information sets: the devices a SetupDi call gathered (by their
// instance ids) and the device interfaces it found, each interface naming
// its device. SP_DEVINFO_DATA.Reserved is a device's index in its set plus
// one; SP_DEVICE_INTERFACE_DATA.Reserved likewise for interfaces.
#pragma once

#include "um/bridge/kernelbridge.h"
#include "um/handletable.h"
#include "um/setupapi/compatibledrivers.h"

#include <setupapi.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace umsim {

struct InterfaceEntry {
    GUID interfaceClass;
    bridge::DeviceInterface description;
};

// The install parameters a set or device keeps; the rest of the record
// is zero when read back.
struct DeviceInstallParams {
    DWORD flags = 0;    // DI_*
    DWORD flagsEx = 0;  // DI_FLAGSEX_*
    HWND parent = NULL;
    std::string driverPath;  // an INF file with DI_ENUMSINGLEINF, else a folder of INF files
};

struct DeviceEntry {
    std::string instanceId;
    // The service of the driver behind an interface the device was found
    // through, for a device whose node names none.
    std::string interfaceService;
    // Its compatible-driver list (SetupDiBuildDriverInfoList);
    // SP_DRVINFO_DATA.Reserved is a node's index plus one.
    std::vector<DriverNode> drivers;
    // Its install parameters (SetupDiSetDeviceInstallParamsA): where its
    // driver list is built from.
    DeviceInstallParams installParams;
};

class DeviceInfoSet : public HandleObject {
public:
    DeviceInfoSet() : HandleObject(ObjectKind::DeviceInfoSet) {}
    std::mutex mutex;  // guards interfaces, devices and installParams
    std::vector<InterfaceEntry> interfaces;
    std::vector<DeviceEntry> devices;
    DeviceInstallParams installParams;  // the set's own, for calls naming no device

    // The device's index, adding it once. The caller holds mutex.
    size_t AddDevice(const std::string& instanceId);
};

std::shared_ptr<DeviceInfoSet> LookupSet(HDEVINFO set, const char* routine);

// The device a SP_DEVINFO_DATA names, its index in the set; false with the
// Win32 error set when the record is not one of the set's. The caller holds
// the set's lock.
bool DeviceIndexOf(DeviceInfoSet& set, PSP_DEVINFO_DATA info, size_t* index);
// The device a SP_DEVINFO_DATA names, copied out under the set's lock;
// false with the Win32 error set when the record is not one of the set's.
bool DeviceOf(DeviceInfoSet& set, PSP_DEVINFO_DATA info, DeviceEntry* device);
// Fills the record for the set's device at `index` (null is fine); false
// with ERROR_INVALID_USER_BUFFER for a record of the wrong size.
bool FillDevInfo(PSP_DEVINFO_DATA info, const std::string& instanceId, size_t index);

// Key of the device's node, relative to HKEY_LOCAL_MACHINE.
std::string DeviceNodePath(const std::string& instanceId);
// The strings of a REG_MULTI_SZ value of the node (HardwareID,
// CompatibleIDs); none when it is missing or of another type.
std::vector<std::string> DeviceNodeIds(const std::string& instanceId, const char* value);

// The INF files a device's driver list is built from, as its install
// parameters direct.
std::vector<std::string> DriverSearchFiles(const DeviceInstallParams& params);

// SetupDiGetClassDevsA over device nodes (DIGCF_DEVICEINTERFACE not set).
HDEVINFO DeviceNodeSet(const GUID* classGuid, PCSTR enumerator, DWORD flags);

}  // namespace umsim
