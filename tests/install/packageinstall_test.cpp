// The whole installation on a fresh virtual Windows: the system's generic
// class driver holds the class-compliant device; the installer stores the
// package, registers the class co-installer through the DLL runner and
// updates the models' drivers; the co-installer steers selection to the
// package, whose kernel driver then publishes its filter. Unplugged, the
// device is marked for reinstallation, and its next plug goes through
// selection again.
#include <windows.h>
#include <cfgmgr32.h>
#include <regstr.h>
#include <setupapi.h>

#include "machinefixture.h"
#include "packageinstall.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace installtest;

namespace {

DWORD ConfigFlags(const std::string& instanceId)
{
    DWORD flags = 0, size = sizeof flags;
    HKEY key;
    const std::string path = "SYSTEM\\CurrentControlSet\\Enum\\" + instanceId;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return 0xFFFFFFFF;
    RegQueryValueExA(key, "ConfigFlags", NULL, NULL, reinterpret_cast<BYTE*>(&flags), &size);
    RegCloseKey(key);
    return flags;
}

// A text value of the first present interface of the category, from the
// key SetupAPI opens for it (the one the kernel driver's filter has).
std::string InterfaceText(const GUID& category, const char* name)
{
    HDEVINFO set = SetupDiGetClassDevsA(&category, NULL, NULL, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    std::string text = "<no interface>";
    if (SetupDiEnumDeviceInterfaces(set, NULL, &category, 0, &data)) {
        HKEY key = SetupDiOpenDeviceInterfaceRegKey(set, &data, 0, KEY_READ);
        text = key == INVALID_HANDLE_VALUE ? "<no key>" : umtest::RegistryText(key, "", name);
        if (key != INVALID_HANDLE_VALUE) RegCloseKey(key);
    }
    SetupDiDestroyDeviceInfoList(set);
    return text;
}

TEST_F(PackageInstall, TheCoInstallerMovesTheDeviceFromTheGenericDriverAndAReplugReinstallsIt)
{
    // The generic class package is part of every Windows and takes the device.
    ASSERT_TRUE(std::filesystem::exists(*umsim::WindowsRoot::HostPath("C:\\Windows\\INF\\wdma_usb.inf")));
    int slot = m_machine->Plug(umtest::NewProductDevice(kClassCompliantProduct));
    const std::string id = m_machine->InstanceId(slot);
    EXPECT_EQ(id.rfind("USB\\VID_3A1E&PID_0100\\", 0), 0u) << id;
    EXPECT_EQ(umtest::DeviceNodeText(id, "Service"), "usbaudio");
    EXPECT_TRUE(umtest::AudioInterfacePaths().empty());

    // The installer: the package into the driver store, the co-installer
    // beside the system's and registered for the MEDIA class.
    StorePackageAndRegisterCoInstaller();

    // Our rank penalty cleared and the generic node marked bad, the package wins.
    EXPECT_EQ(Run("UpdateDriverForModels \"" + PackageInf() + "\" " + kModels), 0u);
    EXPECT_EQ(umtest::DeviceNodeText(id, "Service"), "mrvusbaudio");
    EXPECT_EQ(umtest::DeviceNodeText(id, "Mfg"), "Marvolan");
    EXPECT_FALSE(umtest::AudioInterfacePaths().empty());
    HANDLE filter = umtest::OpenOverlapped(umtest::AudioInterfacePaths().front());
    EXPECT_NE(filter, INVALID_HANDLE_VALUE);
    CloseHandle(filter);

    // The INF's registrations: the filter's interfaces name the
    // kernel-streaming proxy (the driver names the filter itself when it
    // starts), the driver key carries the audio stack's entries, and the
    // system sections it needs were run.
    for (const GUID& category : {KSCATEGORY_AUDIO, KSCATEGORY_RENDER, KSCATEGORY_CAPTURE}) {
        EXPECT_EQ(InterfaceText(category, "CLSID"), "{17CCA71B-ECD7-11D0-B908-00A0C9223196}");
    }
    const std::string driverKey = "SYSTEM\\CurrentControlSet\\Control\\Class\\" + umtest::DeviceNodeText(id, "Driver");
    EXPECT_EQ(umtest::RegistryText(HKEY_LOCAL_MACHINE, driverKey, "AssociatedFilters"), "wdmaud,swmidi,redbook");
    EXPECT_EQ(umtest::RegistryText(HKEY_LOCAL_MACHINE, driverKey + "\\Drivers\\midi\\wdmaud.drv", "Description"),
              "Marvolan USB MIDI");
    EXPECT_EQ(umtest::RegistryText(HKEY_CLASSES_ROOT, "CLSID\\{17CCA71B-ECD7-11D0-B908-00A0C9223196}\\InprocServer32", ""),
              "ksproxy.ax");

    // Unplugged, the device is marked; plugged again, it is installed anew.
    ASSERT_TRUE(m_machine->Unplug(slot));
    EXPECT_EQ(Run("ReinstallDriverForUnpluggedModels \"" + PackageInf() + "\" " + kModels), 0u);
    EXPECT_TRUE(ConfigFlags(id) & CONFIGFLAG_REINSTALL);
    slot = m_machine->Plug(umtest::NewProductDevice(kClassCompliantProduct));
    EXPECT_EQ(m_machine->InstanceId(slot), id);
    EXPECT_FALSE(ConfigFlags(id) & CONFIGFLAG_REINSTALL);
    EXPECT_EQ(umtest::DeviceNodeText(id, "Service"), "mrvusbaudio");
    EXPECT_FALSE(umtest::AudioInterfacePaths().empty());
    EXPECT_EQ(Run("CheckPendingInstallEvents"), 0u);
}

TEST_F(PackageInstall, ExitCodesWithoutDevicesAndWithEmptyModels)
{
    // No device of the id is present.
    EXPECT_EQ(Run("UpdateDriverForPnpDev USB\\VID_3A1E&PID_0010 \"" + PackageInf() + "\""), 1u);
    // Models present in the INF but no device attached: nothing to do.
    EXPECT_EQ(Run("UpdateDriverForModels \"" + PackageInf() + "\" " + kModels), 0u);
    // A models section without lines.
    EXPECT_EQ(Run("UpdateDriverForModels \"" + PackageInf() + "\" NoSuchModels"), DWORD(ERROR_NO_SUCH_DEVINST));
    EXPECT_EQ(Run("ReinstallDriverForUnpluggedModels \"" + PackageInf() + "\" NoSuchModels"), 0xDEADFACEu);
    EXPECT_EQ(Run("CheckPendingInstallEvents"), 0u);
}

}  // namespace
