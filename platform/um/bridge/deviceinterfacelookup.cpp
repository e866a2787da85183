// Device interfaces as SetupAPI reports them: the registered, enabled
// interfaces of the kernel-streaming factories with their user-mode paths,
// the service of the driver behind each and its interface key.
#include <wdm.h>

#include "km/ksdeviceinterfaces.h"
#include "km/utf16.h"
#include "um/bridge/kernelbridge.h"

#include <cctype>
#include <cstring>

namespace umsim::bridge {
namespace {

constexpr char kDeviceClassesPath[] = "\\Registry\\Machine\\System\\CurrentControlSet\\Control\\DeviceClasses\\";

// "\??\<instance>#{class}\<reference>" opens in user mode as "\\?\...".
std::string UserPath(const std::u16string& link)
{
    std::string path = kmsim::Utf16ToUtf8(link);
    if (path.rfind("\\??\\", 0) == 0) path[1] = '\\';
    return path;
}

// Windows keeps an interface's key under DeviceClasses\{class}, named after
// the link with "\??\" turned into "##?#" and the reference string's
// backslash into "\#".
std::string InterfaceKeyPath(const std::u16string& link)
{
    std::string rest = kmsim::Utf16ToUtf8(link);
    if (rest.rfind("\\??\\", 0) == 0 || rest.rfind("\\\\?\\", 0) == 0) rest.erase(0, 4);
    std::string reference;
    size_t slash = rest.find('\\');
    if (slash != std::string::npos) {
        reference = rest.substr(slash + 1);
        rest.erase(slash);
    }
    size_t hash = rest.rfind('#');
    std::string classText = hash == std::string::npos ? std::string() : rest.substr(hash + 1);
    return kDeviceClassesPath + classText + "\\##?#" + rest + "\\#" + reference + "\\Device Parameters";
}

// Paths compare without case, with either prefix.
std::string Folded(std::string path)
{
    for (char& c : path) c = char(tolower(uint8_t(c)));
    if (path.rfind("\\??\\", 0) == 0) path[1] = '\\';
    return path;
}

// "\??\USB#VID_3A1E&PID_0010#5&1a2b&0&1#{class}\ref" belongs to the
// instance "USB\VID_3A1E&PID_0010\5&1a2b&0&1".
std::string InstanceOf(const std::u16string& link)
{
    std::string rest = kmsim::Utf16ToUtf8(link);
    if (rest.rfind("\\??\\", 0) == 0) rest.erase(0, 4);
    size_t hash = rest.rfind('#');
    rest.erase(hash == std::string::npos ? 0 : hash);
    for (char& c : rest) c = c == '#' ? '\\' : c;
    return rest;
}

DeviceInterface Describe(const kmsim::DeviceInterfaceRecord& record)
{
    DeviceInterface out;
    out.path = UserPath(record.symbolicLink);
    out.instanceId = InstanceOf(record.symbolicLink);
    out.interfaceKey = InterfaceKeyPath(record.symbolicLink);
    PDRIVER_OBJECT driver = record.deviceObject ? record.deviceObject->DriverObject : nullptr;
    if (driver && driver->DriverExtension && driver->DriverExtension->ServiceKeyName.Buffer) {
        const UNICODE_STRING& name = driver->DriverExtension->ServiceKeyName;
        out.service = kmsim::Utf16ToUtf8(std::u16string_view(name.Buffer, name.Length / sizeof(WCHAR)));
    }
    return out;
}

}  // namespace

std::vector<DeviceInterface> EnabledDeviceInterfaces(const uint8_t (&interfaceClass)[16])
{
    GUID wanted;
    memcpy(&wanted, interfaceClass, sizeof wanted);
    std::vector<DeviceInterface> found;
    for (const auto& record : kmsim::DeviceInterfaces(wanted)) {
        if (record.enabled) found.push_back(Describe(record));
    }
    return found;
}

std::optional<DeviceInterface> FindDeviceInterface(const std::string& path)
{
    std::string wanted = Folded(path);
    for (const auto& record : kmsim::DeviceInterfaces()) {
        if (record.enabled && Folded(UserPath(record.symbolicLink)) == wanted) return Describe(record);
    }
    return std::nullopt;
}

}  // namespace umsim::bridge
