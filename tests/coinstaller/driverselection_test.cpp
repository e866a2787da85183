// The co-installer's say in driver selection, as the device installer asks
// it: a device whose compatible-driver list holds another vendor's package,
// possibly ours, and the system's generic class driver, read and changed
// through the real SetupAPI.
#include <windows.h>
#include <setupapi.h>

#include "scratchwindowsroot.h"
#include "um/windowsroot.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr char kDeviceKey[] = "SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_3A1E&PID_0100\\6&2f0e9a1&0&1";
// The class-compliant product as the hub reports it; the generic driver
// matches its class ids.
constexpr char kHardwareIds[] = "USB\\VID_3A1E&PID_0100&REV_0100\0USB\\VID_3A1E&PID_0100\0";
constexpr char kCompatibleIds[] = "USB\\Class_01&SubClass_01&Prot_00\0USB\\Class_01&SubClass_01\0USB\\Class_01\0";

// A package for the product; `marker` is its UseClassCoInstaller value
// ("" for none). Both packages are unsigned, so their ranks carry the
// untrusted penalty.
std::string PackageInf(const std::string& provider, const std::string& marker)
{
    std::string text = "[Version]\nSignature=\"$Windows NT$\"\nClass=MEDIA\n"
                       "ClassGuid={4d36e96c-e325-11ce-bfc1-08002be10318}\nProvider=\"" +
                       provider + "\"\n[Manufacturer]\n\"" + provider + "\"=Models,NTamd64,NTx86\n";
    for (const char* models : {"Models.NTamd64", "Models.NTx86"}) {
        text += std::string("[") + models + "]\n\"Audio\"=Install,USB\\VID_3A1E&PID_0100\n";
    }
    text += "[Install]\n";
    if (!marker.empty()) text += "[CustomClassCoInstaller]\nUseClassCoInstaller=" + marker + "\n";
    return text;
}

struct NodeState {
    std::string inf;  // file name in the INF folder
    DWORD rank;
    DWORD flags;
};

struct SelectionCase {
    const char* name;
    DI_FUNCTION function;
    const char* ownMarker;  // what our package names; nullptr for no package of ours
    bool marks;             // whether the co-installer changes the list
};

class DriverSelection : public testing::TestWithParam<SelectionCase> {
protected:
    void SetUp() override
    {
        m_root.emplace("coinstaller_driverselection_test");
        ASSERT_TRUE(m_root->Root().Opened()) << m_root->Root().Error();
        ASSERT_TRUE(m_root->Root().InstallFile(MRV_COINSTALLER_MODULE, "C:\\Windows\\System32\\mrvusbaudio_coinst.dll"));
        m_module = LoadLibraryA("mrvusbaudio_coinst.dll");
        ASSERT_NE(m_module, nullptr);
        m_entry = reinterpret_cast<PCOINSTALLER_ROUTINE>(
            reinterpret_cast<void (*)()>(GetProcAddress(m_module, "ClassCoInstaller_Entry")));
        ASSERT_NE(m_entry, nullptr);

        HKEY node;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kDeviceKey, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &node, NULL),
                  ERROR_SUCCESS);
        RegSetValueExA(node, "HardwareID", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(kHardwareIds),
                       sizeof kHardwareIds);
        RegSetValueExA(node, "CompatibleIDs", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(kCompatibleIds),
                       sizeof kCompatibleIds);
        RegCloseKey(node);
    }
    void TearDown() override
    {
        if (m_set != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(m_set);
        if (m_module) FreeLibrary(m_module);
        m_root.reset();
    }

    void WriteInf(const std::string& name, const std::string& text)
    {
        auto path = umsim::WindowsRoot::HostPath("C:\\Windows\\INF\\" + name);
        ASSERT_TRUE(path);
        std::ofstream(*path) << text;
    }

    // The device's list as the device installer builds it.
    void BuildDriverList()
    {
        m_set = SetupDiGetClassDevsA(NULL, "USB", NULL, DIGCF_ALLCLASSES);
        ASSERT_NE(m_set, INVALID_HANDLE_VALUE);
        m_device.cbSize = sizeof m_device;
        ASSERT_TRUE(SetupDiEnumDeviceInfo(m_set, 0, &m_device));
        ASSERT_TRUE(SetupDiBuildDriverInfoList(m_set, &m_device, SPDIT_COMPATDRIVER));
    }

    std::vector<NodeState> Nodes()
    {
        std::vector<NodeState> nodes;
        SP_DRVINFO_DATA_V2_A driver;
        driver.cbSize = sizeof driver;
        for (DWORD i = 0; SetupDiEnumDriverInfoA(m_set, &m_device, SPDIT_COMPATDRIVER, i, &driver); ++i) {
            SP_DRVINFO_DETAIL_DATA_A detail{};
            detail.cbSize = sizeof detail;
            SetupDiGetDriverInfoDetailA(m_set, &m_device, &driver, &detail, sizeof detail, NULL);
            SP_DRVINSTALL_PARAMS params{};
            params.cbSize = sizeof params;
            EXPECT_TRUE(SetupDiGetDriverInstallParamsA(m_set, &m_device, &driver, &params));
            std::string inf = detail.InfFileName;
            nodes.push_back({inf.substr(inf.find_last_of('\\') + 1), params.Rank, params.Flags});
        }
        return nodes;
    }

    std::optional<umtest::ScratchWindowsRoot> m_root;
    HMODULE m_module = NULL;
    PCOINSTALLER_ROUTINE m_entry = nullptr;
    HDEVINFO m_set = INVALID_HANDLE_VALUE;
    SP_DEVINFO_DATA m_device{};
};

TEST_P(DriverSelection, MarksTheListOnlyWhenSelectingAndAPackageOfOursIsInIt)
{
    const SelectionCase& row = GetParam();
    // Listed in file order: the other vendor's, ours, then the generic
    // driver's, one node for each class id it matches.
    WriteInf("oem0.inf", PackageInf("Other Vendor", "othercoinst.dll"));
    if (row.ownMarker) WriteInf("oem1.inf", PackageInf("Marvolan", row.ownMarker));
    BuildDriverList();
    std::vector<NodeState> before = Nodes();
    std::vector<std::string> infs;
    for (const NodeState& node : before) infs.push_back(node.inf);
    std::vector<std::string> expected = {"oem0.inf", "wdma_usb.inf", "wdma_usb.inf", "wdma_usb.inf"};
    if (row.ownMarker) expected.insert(expected.begin() + 1, "oem1.inf");
    ASSERT_EQ(infs, expected);

    COINSTALLER_CONTEXT_DATA context{FALSE, NO_ERROR, NULL};
    EXPECT_EQ(m_entry(row.function, m_set, &m_device, &context), DWORD(NO_ERROR));

    std::vector<NodeState> after = Nodes();
    ASSERT_EQ(after.size(), before.size());
    for (size_t i = 0; i < before.size(); ++i) {
        SCOPED_TRACE(before[i].inf);
        bool own = before[i].inf == "oem1.inf";
        DWORD rank = before[i].rank, flags = before[i].flags;
        if (row.marks && own) {
            EXPECT_TRUE(rank & DRIVER_UNTRUSTED_RANK);
            rank &= ~DWORD(DRIVER_UNTRUSTED_RANK);
        } else if (row.marks) {
            flags |= DNF_BAD_DRIVER;
        }
        EXPECT_EQ(after[i].rank, rank);
        EXPECT_EQ(after[i].flags, flags);
    }
}

INSTANTIATE_TEST_SUITE_P(
    CoInstaller, DriverSelection,
    testing::Values(SelectionCase{"OwnPackageBetweenTwoOthers", DIF_SELECTBESTCOMPATDRV, "MrvUsbAudio_CoInst.dll", true},
                    SelectionCase{"NoPackageOfOurs", DIF_SELECTBESTCOMPATDRV, nullptr, false},
                    SelectionCase{"PackageNamingAnotherCoInstaller", DIF_SELECTBESTCOMPATDRV, "mrvusbaudio.dll", false},
                    SelectionCase{"OtherInstallFunction", DIF_INSTALLDEVICE, "mrvusbaudio_coinst.dll", false}),
    [](const testing::TestParamInfo<SelectionCase>& info) { return std::string(info.param.name); });

}  // namespace
