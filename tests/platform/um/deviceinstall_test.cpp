// Device installation: compatible-driver lists ranked as Windows ranks
// them, the class co-installers' say in the selection, and
// UpdateDriverForPlugAndPlayDevicesA moving a device from the system's
// generic class driver to a package whose driver is the real kernel driver.
#include <windows.h>
#include <cfgmgr32.h>
#include <newdev.h>
#include <setupapi.h>
#include <regstr.h>

#include "support/machinefixture.h"
#include "support/testmachine.h"
#include "um/virtualmachine.h"
#include "um/windowsroot.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

namespace {

// The class-compliant product: its audio control interface is what the
// system's generic class driver matches.
constexpr uint16_t kClassCompliantProduct = 0x0100;

constexpr char kMediaClass[] = "{4d36e96c-e325-11ce-bfc1-08002be10318}";
constexpr char kPackageInf[] = R"(; A test package for the class-compliant product
[Version]
Signature="$Windows NT$"
Class=MEDIA
ClassGuid={4d36e96c-e325-11ce-bfc1-08002be10318}
Provider=%Prov%
CatalogFile=mrvtest.cat
DriverVer=03/14/2026,1.2.3.4

[DestinationDirs]
DefaultDestDir=12

[Manufacturer]
%Prov%=Models,NTamd64,NTx86

[Models.NTamd64]
%Desc%=TestInstall,USB\VID_3A1E&PID_0100
[Models.NTx86]
%Desc%=TestInstall,USB\VID_3A1E&PID_0100
[Models]
%Desc%=WrongArchitecture,USB\VID_3A1E&PID_0100

[TestInstall.NT]
CopyFiles=TestInstall.Files
[TestInstall.NT.Services]
AddService=mrvtestaudio,0x00000002,TestService
[TestInstall.Files]
mrvtestaudio.sys
[TestService]
ServiceType=1
StartType=3
ErrorControl=1
ServiceBinary=%12%\mrvtestaudio.sys

[Strings]
Prov="Marvolan Test"
Desc="Marvolan Test Audio"
)";

class DeviceInstallTest : public testing::Test {
protected:
    void SetUp() override
    {
        m_base = std::filesystem::path(testing::TempDir()) / "deviceinstall_test";
        std::filesystem::remove_all(m_base);
        std::filesystem::create_directories(m_base / "package");
        std::ofstream(m_base / "package" / "mrvtest.inf") << kPackageInf;
        std::filesystem::copy_file(MRV_KERNEL_DRIVER_MODULE, m_base / "package" / "mrvtestaudio.sys");
        m_root = std::make_unique<umsim::WindowsRoot>((m_base / "root").string());
        ASSERT_TRUE(m_root->Opened()) << m_root->Error();
        RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\MrvTestCoInstaller");
        m_machine = std::make_unique<umsim::VirtualMachine>(umsim::InstalledWindows{});
    }
    void TearDown() override
    {
        m_machine.reset();
        m_root.reset();
        std::filesystem::remove_all(m_base);
    }

    std::string PackageInf() const { return (m_base / "package" / "mrvtest.inf").string(); }

    void RegisterCoInstaller()
    {
        ASSERT_TRUE(m_root->InstallFile(MRV_TEST_COINSTALLER, "C:\\Windows\\System32\\testcoinst.dll"));
        HKEY key;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\CoDeviceInstallers", 0,
                                  NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL),
                  ERROR_SUCCESS);
        const char entry[] = "testcoinst.dll,TestCoInstaller_Entry\0";
        RegSetValueExA(key, kMediaClass, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(entry), sizeof entry);
        RegCloseKey(key);
    }

    DWORD CoInstallerCalls()
    {
        DWORD calls = 0, size = sizeof calls;
        HKEY key;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\MrvTestCoInstaller", 0, KEY_READ, &key)) return 0;
        RegQueryValueExA(key, "Calls", NULL, NULL, reinterpret_cast<BYTE*>(&calls), &size);
        RegCloseKey(key);
        return calls;
    }

    ULONG Problem(const std::string& instanceId, ULONG* status)
    {
        HDEVINFO set = SetupDiGetClassDevsA(NULL, "USB", NULL, DIGCF_ALLCLASSES);
        ULONG problem = 0xFFFF;
        SP_DEVINFO_DATA data{};
        data.cbSize = sizeof data;
        for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &data); ++i) {
            char id[200];
            if (SetupDiGetDeviceInstanceIdA(set, &data, id, sizeof id, NULL) && instanceId == id) {
                if (CM_Get_DevNode_Status(status, &problem, data.DevInst, 0) != CR_SUCCESS) problem = 0xFFFF;
            }
        }
        SetupDiDestroyDeviceInfoList(set);
        return problem;
    }

    std::filesystem::path m_base;
    std::unique_ptr<umsim::WindowsRoot> m_root;
    std::unique_ptr<umsim::VirtualMachine> m_machine;
};

TEST_F(DeviceInstallTest, ANewAudioDeviceGetsTheSystemsGenericClassDriver)
{
    int32_t status = -1;
    int slot = m_machine->Plug(umtest::NewProductDevice(kClassCompliantProduct), &status);
    EXPECT_EQ(status, 0);
    std::string id = m_machine->InstanceId(slot);
    EXPECT_EQ(umtest::DeviceNodeText(id, "Service"), "usbaudio");
    EXPECT_EQ(umtest::DeviceNodeText(id, "Class"), "MEDIA");
    EXPECT_EQ(umtest::DeviceNodeText(id, "ClassGUID"), kMediaClass);
    EXPECT_EQ(umtest::DeviceNodeText(id, "Driver").rfind(std::string(kMediaClass) + "\\", 0), 0u);
    EXPECT_TRUE(umtest::AudioInterfacePaths().empty());  // the stand-in publishes no filter
    ULONG state = 0;
    EXPECT_EQ(Problem(id, &state), 0u);
    EXPECT_TRUE(state & DN_STARTED);
}

TEST_F(DeviceInstallTest, CompatibleDriversAreRankedWithTheUnsignedPackagePenalised)
{
    int slot = m_machine->Plug(umtest::NewProductDevice(kClassCompliantProduct));
    char stored[MAX_PATH];
    ASSERT_TRUE(SetupCopyOEMInfA(PackageInf().c_str(), (m_base / "package").string().c_str(), SPOST_PATH, 0, stored,
                                 sizeof stored, NULL, NULL));
    HDEVINFO set = SetupDiGetClassDevsA(NULL, "USB", NULL, DIGCF_ALLCLASSES | DIGCF_PRESENT);
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 0, &device));
    ASSERT_TRUE(SetupDiBuildDriverInfoList(set, &device, SPDIT_COMPATDRIVER));
    std::map<std::string, DWORD> ranks;
    for (DWORD i = 0;; ++i) {
        SP_DRVINFO_DATA_V2_A driver{};
        driver.cbSize = sizeof driver;
        if (!SetupDiEnumDriverInfoA(set, &device, SPDIT_COMPATDRIVER, i, &driver)) {
            EXPECT_EQ(GetLastError(), DWORD(ERROR_NO_MORE_ITEMS));
            break;
        }
        SP_DRVINSTALL_PARAMS params{};
        params.cbSize = sizeof params;
        ASSERT_TRUE(SetupDiGetDriverInstallParamsA(set, &device, &driver, &params));
        // Given only the record, the id list does not fit; the fixed part is filled.
        SP_DRVINFO_DETAIL_DATA_A detail{};
        detail.cbSize = sizeof detail;
        DWORD needed = 0;
        EXPECT_FALSE(SetupDiGetDriverInfoDetailA(set, &device, &driver, &detail, sizeof detail, &needed));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
        EXPECT_GT(needed, DWORD(sizeof detail));
        ranks[std::string(detail.InfFileName) + "|" + driver.Description] = params.Rank;
        if (std::string(driver.ProviderName) == "Marvolan Test") {
            EXPECT_STREQ(detail.InfFileName, stored);
            EXPECT_STREQ(detail.SectionName, "TestInstall");
            std::vector<char> full(needed);
            auto* whole = reinterpret_cast<PSP_DRVINFO_DETAIL_DATA_A>(full.data());
            whole->cbSize = sizeof detail;
            ASSERT_TRUE(SetupDiGetDriverInfoDetailA(set, &device, &driver, whole, needed, NULL));
            EXPECT_STREQ(whole->HardwareID, "USB\\VID_3A1E&PID_0100");
            EXPECT_EQ(whole->CompatIDsLength, 0u);
        }
    }
    // Ours matched the device's second hardware id, unsigned: 0x8001. The
    // generic driver matched its compatible ids, best the first: 0x2000.
    EXPECT_EQ(ranks[std::string(stored) + "|Marvolan Test Audio"], 0x8001u);
    bool genericFound = false;
    for (const auto& [name, rank] : ranks) {
        if (name.find("wdma_usb.inf") != std::string::npos) {
            genericFound = true;
            EXPECT_GE(rank, 0x2000u);
            EXPECT_LE(rank, 0x2002u);
        }
    }
    EXPECT_TRUE(genericFound);
    SetupDiDestroyDeviceInfoList(set);
    m_machine->Unplug(slot);
}

TEST_F(DeviceInstallTest, ADriverListOverASingleInfHoldsOnlyThatInfsNodes)
{
    int slot = m_machine->Plug(umtest::NewProductDevice(kClassCompliantProduct));
    HDEVINFO set = SetupDiGetClassDevsA(NULL, "USB", NULL, DIGCF_ALLCLASSES | DIGCF_PRESENT);
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 0, &device));
    SP_DEVINSTALL_PARAMS_A params{};
    params.cbSize = sizeof params;
    ASSERT_TRUE(SetupDiGetDeviceInstallParamsA(set, &device, &params));
    // A single INF that is not named is refused.
    params.Flags |= DI_ENUMSINGLEINF;
    EXPECT_FALSE(SetupDiSetDeviceInstallParamsA(set, &device, &params));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    strcpy(params.DriverPath, PackageInf().c_str());
    ASSERT_TRUE(SetupDiSetDeviceInstallParamsA(set, &device, &params));
    SP_DEVINSTALL_PARAMS_A readBack{};
    readBack.cbSize = sizeof readBack;
    ASSERT_TRUE(SetupDiGetDeviceInstallParamsA(set, &device, &readBack));
    EXPECT_EQ(readBack.Flags, params.Flags);
    EXPECT_STREQ(readBack.DriverPath, params.DriverPath);

    // The package alone, not the generic class driver of the INF folder.
    ASSERT_TRUE(SetupDiBuildDriverInfoList(set, &device, SPDIT_COMPATDRIVER));
    SP_DRVINFO_DATA_V2_A driver{};
    driver.cbSize = sizeof driver;
    ASSERT_TRUE(SetupDiEnumDriverInfoA(set, &device, SPDIT_COMPATDRIVER, 0, &driver));
    EXPECT_STREQ(driver.ProviderName, "Marvolan Test");
    EXPECT_FALSE(SetupDiEnumDriverInfoA(set, &device, SPDIT_COMPATDRIVER, 1, &driver));
    SetupDiDestroyDeviceInfoList(set);
    m_machine->Unplug(slot);
}

TEST_F(DeviceInstallTest, WithoutTheCoInstallerTheBetterRankedGenericDriverStays)
{
    int slot = m_machine->Plug(umtest::NewProductDevice(kClassCompliantProduct));
    BOOL reboot = TRUE;
    ASSERT_TRUE(UpdateDriverForPlugAndPlayDevicesA(NULL, "USB\\VID_3A1E&PID_0100", PackageInf().c_str(), 0, &reboot))
        << std::hex << GetLastError();
    EXPECT_FALSE(reboot);
    EXPECT_EQ(umtest::DeviceNodeText(m_machine->InstanceId(slot), "Service"), "usbaudio");
    EXPECT_TRUE(umtest::AudioInterfacePaths().empty());
}

TEST_F(DeviceInstallTest, TheCoInstallerMovesTheDeviceToThePackageAndItsFilterAppears)
{
    int slot = m_machine->Plug(umtest::NewProductDevice(kClassCompliantProduct));
    std::string id = m_machine->InstanceId(slot);
    ASSERT_EQ(umtest::DeviceNodeText(id, "Service"), "usbaudio");
    ASSERT_TRUE(umtest::AudioInterfacePaths().empty());
    RegisterCoInstaller();

    DWORD callsBefore = CoInstallerCalls();
    BOOL reboot = TRUE;
    ASSERT_TRUE(UpdateDriverForPlugAndPlayDevicesA(NULL, "usb\\vid_3a1e&pid_0100", PackageInf().c_str(),
                                                   INSTALLFLAG_FORCE, &reboot))
        << std::hex << GetLastError();
    EXPECT_FALSE(reboot);
    EXPECT_EQ(CoInstallerCalls(), callsBefore + 1);
    EXPECT_EQ(umtest::DeviceNodeText(id, "Service"), "mrvtestaudio");
    EXPECT_EQ(umtest::DeviceNodeText(id, "DeviceDesc"), "Marvolan Test Audio");
    EXPECT_EQ(umtest::DeviceNodeText(id, "Mfg"), "Marvolan Test");
    EXPECT_TRUE(std::filesystem::exists(*umsim::WindowsRoot::HostPath("C:\\Windows\\System32\\drivers\\mrvtestaudio.sys")));
    HKEY service;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\mrvtestaudio", 0, KEY_READ,
                            &service),
              ERROR_SUCCESS);
    char image[MAX_PATH] = {};
    DWORD size = sizeof image, start = 0, startSize = sizeof start;
    RegQueryValueExA(service, "ImagePath", NULL, NULL, reinterpret_cast<BYTE*>(image), &size);
    RegQueryValueExA(service, "Start", NULL, NULL, reinterpret_cast<BYTE*>(&start), &startSize);
    RegCloseKey(service);
    EXPECT_STREQ(image, "\\SystemRoot\\System32\\drivers\\mrvtestaudio.sys");
    EXPECT_EQ(start, 3u);
    EXPECT_FALSE(umtest::AudioInterfacePaths().empty());
    m_machine->Unplug(slot);
}

TEST_F(DeviceInstallTest, AnUpdateForAnIdNoPresentDeviceHasChangesNothing)
{
    BOOL reboot = TRUE;
    EXPECT_FALSE(UpdateDriverForPlugAndPlayDevicesA(NULL, "USB\\VID_3A1E&PID_0100", PackageInf().c_str(), 0, &reboot));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NO_SUCH_DEVINST));
    EXPECT_FALSE(reboot);
    // An unplugged device's node does not count.
    m_machine->Unplug(m_machine->Plug(umtest::NewProductDevice(kClassCompliantProduct)));
    EXPECT_FALSE(UpdateDriverForPlugAndPlayDevicesA(NULL, "USB\\VID_3A1E&PID_0100", PackageInf().c_str(), 0, &reboot));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NO_SUCH_DEVINST));
    EXPECT_FALSE(UpdateDriverForPlugAndPlayDevicesA(NULL, "", PackageInf().c_str(), 0, &reboot));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
}

TEST_F(DeviceInstallTest, APhantomMarkedForReinstallGoesThroughSelectionWhenPluggedAgain)
{
    int slot = m_machine->Plug(umtest::NewProductDevice(kClassCompliantProduct));
    std::string id = m_machine->InstanceId(slot);
    ASSERT_EQ(umtest::DeviceNodeText(id, "Service"), "usbaudio");
    m_machine->Unplug(slot);
    // The package and its co-installer arrive while the device is away.
    RegisterCoInstaller();
    char stored[MAX_PATH];
    ASSERT_TRUE(SetupCopyOEMInfA(PackageInf().c_str(), (m_base / "package").string().c_str(), SPOST_PATH, 0, stored,
                                 sizeof stored, NULL, NULL));
    // Without the mark, the node's driver is kept.
    m_machine->Unplug(m_machine->Plug(umtest::NewProductDevice(kClassCompliantProduct)));
    EXPECT_EQ(umtest::DeviceNodeText(id, "Service"), "usbaudio");

    HDEVINFO set = SetupDiGetClassDevsA(NULL, "USB", NULL, DIGCF_ALLCLASSES);
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 0, &data));
    DWORD flags = CONFIGFLAG_REINSTALL;
    ASSERT_TRUE(SetupDiSetDeviceRegistryPropertyA(set, &data, SPDRP_CONFIGFLAGS, reinterpret_cast<BYTE*>(&flags),
                                                  sizeof flags));
    SetupDiDestroyDeviceInfoList(set);

    int32_t status = -1;
    slot = m_machine->Plug(umtest::NewProductDevice(kClassCompliantProduct), &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(umtest::DeviceNodeText(id, "Service"), "mrvtestaudio");
    EXPECT_FALSE(umtest::AudioInterfacePaths().empty());
    EXPECT_EQ(CMP_WaitNoPendingInstallEvents(0), DWORD(WAIT_OBJECT_0));
    m_machine->Unplug(slot);
}

TEST_F(DeviceInstallTest, AnUpdateRacingUnplugAndReplugLeavesTheDeviceOnOneDriver)
{
    m_machine->StartClock(true);
    int slot = m_machine->Plug(umtest::NewProductDevice(kClassCompliantProduct));
    std::string id = m_machine->InstanceId(slot);
    RegisterCoInstaller();
    std::thread cable([&] {
        for (int i = 0; i < 3; ++i) {
            m_machine->Unplug(slot);
            slot = m_machine->Plug(umtest::NewProductDevice(kClassCompliantProduct));
        }
    });
    for (int i = 0; i < 3; ++i) {
        BOOL reboot = FALSE;
        // Either the device is present (installed, maybe restarted under the
        // cable's feet) or it is not (no such device).
        if (!UpdateDriverForPlugAndPlayDevicesA(NULL, "USB\\VID_3A1E&PID_0100", PackageInf().c_str(), 0, &reboot)) {
            EXPECT_EQ(GetLastError(), DWORD(ERROR_NO_SUCH_DEVINST));
        }
    }
    cable.join();
    // Replugs before the package was stored found no driver the
    // co-installer would take; once more with the device surely present.
    ASSERT_TRUE(UpdateDriverForPlugAndPlayDevicesA(NULL, "USB\\VID_3A1E&PID_0100", PackageInf().c_str(), 0, NULL));
    m_machine->StopClock();
    EXPECT_EQ(umtest::DeviceNodeText(id, "Service"), "mrvtestaudio");
    ULONG state = 0;
    EXPECT_EQ(Problem(id, &state), 0u);
    EXPECT_EQ(umtest::AudioInterfacePaths().size(), 1u);
    m_machine->Unplug(slot);
}

}  // namespace
