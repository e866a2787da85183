// A fresh virtual Windows for installing the package from the build's
// package folder, as an installer ships it, with the setup tool's commands.
#pragma once

#include <windows.h>

#include "setupcommands.h"
#include "testmachine.h"
#include "um/rundll32.h"
#include "um/virtualmachine.h"
#include "um/windowsroot.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

namespace installtest {

constexpr uint16_t kClassCompliantProduct = 0x0100;
constexpr char kMediaClass[] = "{4d36e96c-e325-11ce-bfc1-08002be10318}";
constexpr const char* kModels = sizeof(void*) == 8 ? "Marvolan.NTamd64" : "Marvolan.NTx86";

class PackageInstall : public testing::Test {
protected:
    void SetUp() override
    {
        m_base = std::filesystem::path(testing::TempDir()) / "packageinstall_test";
        std::filesystem::remove_all(m_base);
        m_root = std::make_unique<umsim::WindowsRoot>((m_base / "root").string());
        ASSERT_TRUE(m_root->Opened()) << m_root->Error();
        m_machine = std::make_unique<umsim::VirtualMachine>(umsim::InstalledWindows{});
    }
    void TearDown() override
    {
        m_machine.reset();
        m_root.reset();
        std::filesystem::remove_all(m_base);
    }

    // The build's package folder, as an installer ships it.
    std::string Package() const { return MRV_PACKAGE_DIR; }
    std::string PackageInf() const { return Package() + "/mrvusbaudio.inf"; }
    DWORD Run(const std::string& commandLine) { return RunSetupCommand(commandLine.c_str()); }

    // The installer's first steps: the package into the driver store, the
    // co-installer beside the system's and registered for the MEDIA class.
    void StorePackageAndRegisterCoInstaller()
    {
        EXPECT_EQ(Run("InstallOemInfs \"" + Package() + "\""), 0u);
        ASSERT_TRUE(m_root->InstallFile(Package() + "/mrvusbaudio_coinst.dll",
                                        "C:\\Windows\\System32\\mrvusbaudio_coinst.dll"));
        std::string error;
        ASSERT_TRUE(umsim::RunDll32(std::string("mrvusbaudio_coinst.dll,ClassCoInstaller_Register ") + kMediaClass,
                                    &error))
            << error;
    }

    std::filesystem::path m_base;
    std::unique_ptr<umsim::WindowsRoot> m_root;
    std::unique_ptr<umsim::VirtualMachine> m_machine;
};

}  // namespace installtest
