// The virtual Windows root: the registry survives a save and a reopen (as
// in a second process), a corrupt registry file is refused without loss,
// and Windows paths map to host files under the root.
#include <windows.h>

#include "um/windowsroot.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

class WindowsRootTest : public testing::Test {
protected:
    void SetUp() override
    {
        m_directory = std::filesystem::path(testing::TempDir()) / "windowsroot_test";
        std::filesystem::remove_all(m_directory);
    }
    void TearDown() override { std::filesystem::remove_all(m_directory); }
    std::filesystem::path m_directory;
};

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST_F(WindowsRootTest, AFreshRootHasTheKeysInstallersOpen)
{
    umsim::WindowsRoot root(m_directory.string());
    ASSERT_TRUE(root.Opened()) << root.Error();
    HKEY key = NULL;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\CoDeviceInstallers", 0, 0x2001F,
                            &key),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

TEST_F(WindowsRootTest, TheRegistryOfOneRunIsTheNextRunsRegistry)
{
    {
        umsim::WindowsRoot root(m_directory.string());
        ASSERT_TRUE(root.Opened()) << root.Error();
        HKEY key = NULL;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, "CLSID\\{Root-Test}", 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL),
                  ERROR_SUCCESS);
        RegSetValueExA(key, NULL, 0, REG_SZ, reinterpret_cast<const BYTE*>("kept"), 4);
        RegCloseKey(key);
        std::string error;
        ASSERT_TRUE(root.Save(&error)) << error;
    }
    RegDeleteKeyA(HKEY_CLASSES_ROOT, "CLSID\\{Root-Test}");
    umsim::WindowsRoot again(m_directory.string());
    ASSERT_TRUE(again.Opened()) << again.Error();
    char value[8] = {};
    DWORD size = sizeof value;
    HKEY key = NULL;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID\\{Root-Test}", 0, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExA(key, NULL, NULL, NULL, reinterpret_cast<BYTE*>(value), &size), ERROR_SUCCESS);
    EXPECT_STREQ(value, "kept");
    RegCloseKey(key);
    RegDeleteKeyA(HKEY_CLASSES_ROOT, "CLSID\\{Root-Test}");
}

TEST_F(WindowsRootTest, ACorruptRegistryFileIsRefusedAndKept)
{
    std::filesystem::create_directories(m_directory);
    std::string file = (m_directory / "registry.txt").string();
    std::ofstream(file) << "MRVREGISTRY 1\nK \\Registry\\Machine\\X\nV broken";
    std::string before = ReadFile(file);
    umsim::WindowsRoot root(m_directory.string());
    EXPECT_FALSE(root.Opened());
    EXPECT_NE(root.Error().find("registry.txt"), std::string::npos) << root.Error();
    EXPECT_EQ(ReadFile(file), before);
    EXPECT_FALSE(umsim::WindowsRoot::HostPath("C:\\Windows"));
}

TEST_F(WindowsRootTest, WindowsPathsMapToHostFilesUnderTheRoot)
{
    umsim::WindowsRoot root(m_directory.string());
    ASSERT_TRUE(root.Opened()) << root.Error();
    std::string source = (m_directory / "source.bin").string();
    std::ofstream(source) << "driver";
    std::string error;
    ASSERT_TRUE(root.InstallFile(source, "C:\\Windows\\System32\\Drivers\\X.sys", &error)) << error;
    auto host = umsim::WindowsRoot::HostPath("c:/WINDOWS/system32/drivers/x.SYS");
    ASSERT_TRUE(host);
    EXPECT_EQ(*host, (m_directory / "c/windows/system32/drivers/x.sys").string());
    EXPECT_EQ(ReadFile(*host), "driver");
    for (const char* bad : {"system32\\x.sys", "C:\\Windows\\..\\..\\escape", "\\\\server\\share", ""}) {
        EXPECT_FALSE(umsim::WindowsRoot::HostPath(bad)) << bad;
    }
}

}  // namespace
