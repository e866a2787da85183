// Running out of kernel pool at every allocation, in turn, of the driver
// update that moves the plugged device to the package's driver (the old
// stack removed, the package's kernel driver loaded, the device started):
// the setup tool either succeeds with the device running or reports an
// error, nothing is left open, and the device installs afterwards.
#include "machinefixture.h"
#include "packageinstall.h"

#include "um/umverifier.h"

#include <iostream>
#include <string>

using namespace installtest;

namespace {

// One more than the update allocates, so that the last cell runs it without
// a failure; the coverage test keeps this in step with the code.
constexpr uint64_t kUpdateCells = 121;

class InstallFaults : public PackageInstall, public testing::WithParamInterface<uint64_t> {
protected:
    // Up to the update: the generic class driver holds the device, the
    // package is stored and the co-installer registered.
    void SetUp() override
    {
        PackageInstall::SetUp();
        m_slot = m_machine->Plug(umtest::NewProductDevice(kClassCompliantProduct));
        m_id = m_machine->InstanceId(m_slot);
        ASSERT_EQ(umtest::DeviceNodeText(m_id, "Service"), "usbaudio");
        StorePackageAndRegisterCoInstaller();
    }

    DWORD Update() { return Run("UpdateDriverForModels \"" + PackageInf() + "\" " + kModels); }

    // The package's driver runs the device and its filter opens.
    bool DeviceRunsThePackage() const
    {
        if (umtest::DeviceNodeText(m_id, "Service") != "mrvusbaudio") return false;
        const auto paths = umtest::AudioInterfacePaths();
        if (paths.empty()) return false;
        HANDLE filter = umtest::OpenOverlapped(paths.front());
        if (filter == INVALID_HANDLE_VALUE) return false;
        CloseHandle(filter);
        return true;
    }

    int m_slot = -1;
    std::string m_id;
};

TEST_P(InstallFaults, UpdateWorksOrFailsAndTheDeviceInstallsAfterwards)
{
    const size_t handlesBefore = umsim::OpenHandleCount();
    const uint64_t injectedBefore = umtest::InjectedPoolFailures();
    umtest::FailNthPoolAllocation(GetParam());
    const DWORD exitCode = Update();
    umtest::ClearPoolFaults();
    const uint64_t injected = umtest::InjectedPoolFailures() - injectedBefore;
    EXPECT_LE(injected, 1u);
    if (injected == 0) {
        EXPECT_EQ(exitCode, 0u);
        EXPECT_TRUE(DeviceRunsThePackage());
    }
    if (exitCode != 0) {
        EXPECT_EQ(injected, 1u) << "failed without a failed allocation: " << exitCode;
    }
    EXPECT_EQ(umsim::OpenHandleCount(), handlesBefore);

    // What a user does after a failed installation: runs the installer
    // again, or pulls the device and plugs it back in.
    if (!DeviceRunsThePackage()) {
        EXPECT_EQ(Update(), 0u);
    }
    if (!DeviceRunsThePackage()) {
        ASSERT_TRUE(m_machine->Unplug(m_slot));
        m_slot = m_machine->Plug(umtest::NewProductDevice(kClassCompliantProduct));
    }
    EXPECT_TRUE(DeviceRunsThePackage());
}

INSTANTIATE_TEST_SUITE_P(Allocations, InstallFaults, testing::Range<uint64_t>(1, kUpdateCells + 1),
                         [](const testing::TestParamInfo<uint64_t>& info) {
                             return "Update" + std::to_string(info.param);
                         });

class InstallFaultsCoverage : public InstallFaults {};

TEST_F(InstallFaultsCoverage, TheLastCellIsPastTheUpdatesLastAllocation)
{
    const uint64_t before = umtest::PoolAllocationCount();
    ASSERT_EQ(Update(), 0u);
    const uint64_t allocations = umtest::PoolAllocationCount() - before;
    std::cout << "The driver update makes " << allocations << " pool allocations\n";
    EXPECT_GT(allocations, 0u);
    EXPECT_LT(allocations, kUpdateCells);
}

}  // namespace
