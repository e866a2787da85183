#include "um/setupapi/addinterface.h"

#include "um/setupapi/compatibledrivers.h"
#include "um/setupapi/installsection.h"
#include "um/setupapi/registrykey.h"

#include <algorithm>
#include <cctype>

namespace umsim {
namespace {

constexpr char kDeviceClassesKey[] = "SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\";

// "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}" in lower case, as Windows names
// the class keys; "" when the text is not one.
std::string ClassKeyName(std::string text)
{
    static const char kShape[] = "{........-....-....-....-............}";
    if (text.size() != sizeof kShape - 1) return {};
    for (size_t i = 0; i < text.size(); ++i) {
        bool hexDigit = kShape[i] == '.';
        if (hexDigit ? !isxdigit(static_cast<unsigned char>(text[i])) : text[i] != kShape[i]) return {};
        text[i] = char(tolower(static_cast<unsigned char>(text[i])));
    }
    return text;
}

// The interface's key: named after its symbolic link with "\??\" turned
// into "##?#", the reference string's key below it as "#reference".
std::string InterfaceKeyPath(const std::string& classKey, const std::string& instanceId)
{
    std::string linkName = instanceId;
    std::replace(linkName.begin(), linkName.end(), '\\', '#');
    return kDeviceClassesKey + classKey + "\\##?#" + linkName + "#" + classKey;
}

}  // namespace

DWORD AddInterfaces(HINF inf, const std::string& infPath, const std::string& interfacesSection,
                    const std::string& instanceId)
{
    INFCONTEXT context;
    for (BOOL more = SetupFindFirstLineA(inf, interfacesSection.c_str(), "AddInterface", &context); more;
         more = SetupFindNextMatchLineA(&context, "AddInterface", &context)) {
        std::string classKey = ClassKeyName(InfField(&context, 1));
        if (classKey.empty()) return ERROR_INVALID_DATA;
        std::string reference = InfField(&context, 2);
        std::string installSection = InfField(&context, 3);
        std::string interfacePath = InterfaceKeyPath(classKey, instanceId);
        RegistryKey interfaceKey, parameters;
        if (!interfaceKey.Create(HKEY_LOCAL_MACHINE, interfacePath) ||
            !parameters.Create(HKEY_LOCAL_MACHINE, interfacePath + "\\#" + reference + "\\Device Parameters")) {
            return ERROR_ACCESS_DENIED;
        }
        RegSetValueExA(interfaceKey.handle, "DeviceInstance", 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(instanceId.c_str()), DWORD(instanceId.size() + 1));
        if (installSection.empty()) continue;
        if (DWORD error = RunInstallSection(inf, infPath, installSection, parameters.handle)) return error;
    }
    return ERROR_SUCCESS;
}

}  // namespace umsim
