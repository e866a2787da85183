// Installed Windows: devices get nodes under Enum that outlive them, a
// node's service driver is loaded from its ImagePath in the virtual Windows
// root, and SetupAPI and the configuration manager report nodes as Windows
// does.
#include <windows.h>
#include <cfgmgr32.h>
#include <setupapi.h>
#include <regstr.h>

#include "support/machinefixture.h"
#include "support/testmachine.h"
#include "um/virtualmachine.h"
#include "um/windowsroot.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

namespace {

using umtest::kAudioMidiProduct;

constexpr char kFirstPortInstance[] = "USB\\VID_3A1E&PID_0010\\5&2a1e3f07&0&1";
constexpr char kDriverImage[] = "C:\\Windows\\System32\\drivers\\mrvusbaudio.sys";

void SetServiceImage(const char* service, const char* imagePath)
{
    HKEY key;
    std::string path = std::string("SYSTEM\\CurrentControlSet\\Services\\") + service;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL),
              ERROR_SUCCESS);
    RegSetValueExA(key, "ImagePath", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(imagePath),
                   DWORD(strlen(imagePath) + 1));
    RegCloseKey(key);
}

class InstalledMachineTest : public testing::Test {
protected:
    void SetUp() override
    {
        m_directory = std::filesystem::path(testing::TempDir()) / "installedmachine_test";
        std::filesystem::remove_all(m_directory);
        m_root = std::make_unique<umsim::WindowsRoot>(m_directory.string());
        ASSERT_TRUE(m_root->Opened()) << m_root->Error();
        ASSERT_TRUE(m_root->InstallFile(MRV_KERNEL_DRIVER_MODULE, kDriverImage));
        m_machine = std::make_unique<umsim::VirtualMachine>(umsim::InstalledWindows{});
    }
    void TearDown() override
    {
        m_machine.reset();
        m_root.reset();
        std::filesystem::remove_all(m_directory);
    }

    // The node of the device on port 1, as an installer would leave it.
    void BindFirstPortTo(const char* service)
    {
        HKEY key;
        std::string path = std::string("SYSTEM\\CurrentControlSet\\Enum\\") + kFirstPortInstance;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL),
                  ERROR_SUCCESS);
        RegSetValueExA(key, "Service", 0, REG_SZ, reinterpret_cast<const BYTE*>(service), DWORD(strlen(service) + 1));
        RegCloseKey(key);
    }

    std::filesystem::path m_directory;
    std::unique_ptr<umsim::WindowsRoot> m_root;
    std::unique_ptr<umsim::VirtualMachine> m_machine;
};

// The device set of every USB node, present or not.
struct NodeSet {
    explicit NodeSet(DWORD flags) : handle(SetupDiGetClassDevsA(NULL, "USB", NULL, flags)) {}
    ~NodeSet() { SetupDiDestroyDeviceInfoList(handle); }
    bool Member(DWORD index, SP_DEVINFO_DATA* data)
    {
        data->cbSize = sizeof *data;
        return SetupDiEnumDeviceInfo(handle, index, data);
    }
    HDEVINFO handle;
};

std::string InstanceIdOf(HDEVINFO set, SP_DEVINFO_DATA* data)
{
    char id[200] = {};
    return SetupDiGetDeviceInstanceIdA(set, data, id, sizeof id, NULL) ? id : "";
}

TEST_F(InstalledMachineTest, ANodeWithAServiceLoadsItsDriverFromTheRootAndStartsIt)
{
    SetServiceImage("mrvusbaudio", "\\SystemRoot\\System32\\drivers\\mrvusbaudio.sys");
    BindFirstPortTo("mrvusbaudio");
    int32_t status = -1;
    int slot = m_machine->Plug(umtest::NewProductDevice(kAudioMidiProduct), &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(m_machine->InstanceId(slot), kFirstPortInstance);
    EXPECT_FALSE(umtest::AudioInterfacePaths().empty());

    NodeSet nodes(DIGCF_ALLCLASSES | DIGCF_PRESENT);
    SP_DEVINFO_DATA data;
    ASSERT_TRUE(nodes.Member(0, &data));
    ULONG state = 0, problem = 0;
    ASSERT_EQ(CM_Get_DevNode_Status(&state, &problem, data.DevInst, 0), CR_SUCCESS);
    EXPECT_EQ(state & (DN_DRIVER_LOADED | DN_STARTED | DN_HAS_PROBLEM), ULONG(DN_DRIVER_LOADED | DN_STARTED));

    // Unplugged, the node stays as a phantom that only all-device sets list.
    ASSERT_TRUE(m_machine->Unplug(slot));
    EXPECT_TRUE(umtest::AudioInterfacePaths().empty());
    EXPECT_EQ(CM_Get_DevNode_Status(&state, &problem, data.DevInst, 0), CR_NO_SUCH_DEVNODE);
    EXPECT_FALSE(NodeSet(DIGCF_ALLCLASSES | DIGCF_PRESENT).Member(0, &data));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NO_MORE_ITEMS));
    NodeSet all(DIGCF_ALLCLASSES);
    ASSERT_TRUE(all.Member(0, &data));
    EXPECT_EQ(InstanceIdOf(all.handle, &data), kFirstPortInstance);

    // Plugged again into the same port, the device finds its node and driver.
    slot = m_machine->Plug(umtest::NewProductDevice(kAudioMidiProduct), &status);
    EXPECT_EQ(status, 0);
    EXPECT_FALSE(umtest::AudioInterfacePaths().empty());
    ASSERT_TRUE(m_machine->Unplug(slot));
}

TEST_F(InstalledMachineTest, TheGenericClassServiceRunsTheBuiltInStandInThatPublishesNoFilter)
{
    SetServiceImage("usbaudio", "System32\\drivers\\usbaudio.sys");
    BindFirstPortTo("usbaudio");
    int32_t status = -1;
    m_machine->Plug(umtest::NewProductDevice(kAudioMidiProduct), &status);
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(umtest::AudioInterfacePaths().empty());
    NodeSet nodes(DIGCF_ALLCLASSES | DIGCF_PRESENT);
    SP_DEVINFO_DATA data;
    ASSERT_TRUE(nodes.Member(0, &data));
    ULONG state = 0, problem = 0;
    ASSERT_EQ(CM_Get_DevNode_Status(&state, &problem, data.DevInst, 0), CR_SUCCESS);
    EXPECT_TRUE(state & DN_STARTED);
}

TEST_F(InstalledMachineTest, ADriverThatCannotBeLoadedLeavesTheDeviceWithAProblem)
{
    for (const char* image : {"\\SystemRoot\\System32\\drivers\\missing.sys", "\\Device\\Harddisk0\\x.sys"}) {
        SetServiceImage("mrvusbaudio", image);
        BindFirstPortTo("mrvusbaudio");
        int32_t status = 0;
        int slot = m_machine->Plug(umtest::NewProductDevice(kAudioMidiProduct), &status);
        EXPECT_LT(status, 0) << image;
        NodeSet nodes(DIGCF_ALLCLASSES | DIGCF_PRESENT);
        SP_DEVINFO_DATA data;
        ASSERT_TRUE(nodes.Member(0, &data));
        ULONG state = 0, problem = 0;
        ASSERT_EQ(CM_Get_DevNode_Status(&state, &problem, data.DevInst, 0), CR_SUCCESS);
        EXPECT_EQ(state & (DN_HAS_PROBLEM | DN_STARTED), ULONG(DN_HAS_PROBLEM)) << image;
        EXPECT_EQ(problem, ULONG(CM_PROB_FAILED_START)) << image;
        ASSERT_TRUE(m_machine->Unplug(slot));
    }
}

TEST_F(InstalledMachineTest, NodePropertiesReadAndWriteWithThePublishedBufferRules)
{
    int slot = m_machine->Plug(umtest::NewProductDevice(kAudioMidiProduct));
    NodeSet nodes(DIGCF_ALLCLASSES);
    SP_DEVINFO_DATA data;
    ASSERT_TRUE(nodes.Member(0, &data));
    EXPECT_FALSE(nodes.Member(1, &data));
    ASSERT_TRUE(nodes.Member(0, &data));

    DWORD type = 0, needed = 0;
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(nodes.handle, &data, SPDRP_HARDWAREID, &type, NULL, 0, &needed));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(type, DWORD(REG_MULTI_SZ));
    const char expected[] = "USB\\VID_3A1E&PID_0010&REV_0100\0USB\\VID_3A1E&PID_0010\0";
    ASSERT_EQ(needed, sizeof expected);
    char ids[sizeof expected];
    ASSERT_TRUE(SetupDiGetDeviceRegistryPropertyA(nodes.handle, &data, SPDRP_HARDWAREID, &type, reinterpret_cast<BYTE*>(ids),
                                                  sizeof ids, NULL));
    EXPECT_EQ(memcmp(ids, expected, sizeof expected), 0);

    DWORD flags = 0;
    ASSERT_TRUE(SetupDiGetDeviceRegistryPropertyA(nodes.handle, &data, SPDRP_CONFIGFLAGS, &type,
                                                  reinterpret_cast<BYTE*>(&flags), sizeof flags, NULL));
    EXPECT_EQ(type, DWORD(REG_DWORD));
    EXPECT_TRUE(flags & CONFIGFLAG_FAILEDINSTALL);  // no driver matched this new device
    flags = CONFIGFLAG_REINSTALL;
    ASSERT_TRUE(SetupDiSetDeviceRegistryPropertyA(nodes.handle, &data, SPDRP_CONFIGFLAGS,
                                                  reinterpret_cast<BYTE*>(&flags), sizeof flags));
    EXPECT_FALSE(SetupDiSetDeviceRegistryPropertyA(nodes.handle, &data, SPDRP_CONFIGFLAGS,
                                                   reinterpret_cast<BYTE*>(&flags), 2));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_DATA));
    flags = 0;
    ASSERT_TRUE(SetupDiGetDeviceRegistryPropertyA(nodes.handle, &data, SPDRP_CONFIGFLAGS, NULL,
                                                  reinterpret_cast<BYTE*>(&flags), sizeof flags, NULL));
    EXPECT_EQ(flags, DWORD(CONFIGFLAG_REINSTALL));

    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(nodes.handle, &data, SPDRP_SERVICE, NULL, NULL, 0, NULL));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_DATA));
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(nodes.handle, &data, 0x7777, NULL, NULL, 0, NULL));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_REG_PROPERTY));

    ULONG state = 0, problem = 0;
    ASSERT_EQ(CM_Get_DevNode_Status(&state, &problem, data.DevInst, 0), CR_SUCCESS);
    EXPECT_EQ(problem, ULONG(CM_PROB_FAILED_INSTALL));
    EXPECT_EQ(CM_Get_DevNode_Status(&state, &problem, 0x7FFFFFFF, 0), CR_INVALID_DEVNODE);
    EXPECT_EQ(CMP_WaitNoPendingInstallEvents(0), DWORD(WAIT_OBJECT_0));
    m_machine->Unplug(slot);
}

TEST_F(InstalledMachineTest, DevicesRemovedWhileAnotherIsPluggedLeaveEveryNodeConsistent)
{
    SetServiceImage("mrvusbaudio", kDriverImage);
    BindFirstPortTo("mrvusbaudio");
    m_machine->StartClock(true);
    std::thread other([&] {
        for (int i = 0; i < 5; ++i) m_machine->Unplug(m_machine->Plug(umtest::NewProductDevice(0x0A)));
    });
    for (int i = 0; i < 5; ++i) {
        int32_t status = -1;
        int slot = m_machine->Plug(umtest::NewProductDevice(kAudioMidiProduct), &status);
        // Either port may be free: only port 1's node names our driver.
        if (m_machine->InstanceId(slot) == kFirstPortInstance) {
            EXPECT_EQ(status, 0);
        }
        m_machine->Unplug(slot);
    }
    other.join();
    m_machine->StopClock();
    EXPECT_TRUE(NodeSet(DIGCF_ALLCLASSES | DIGCF_PRESENT).handle != INVALID_HANDLE_VALUE);
    SP_DEVINFO_DATA data;
    EXPECT_FALSE(NodeSet(DIGCF_ALLCLASSES | DIGCF_PRESENT).Member(0, &data));
}

}  // namespace
