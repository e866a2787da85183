// The DLL runner: a module's command-line entry gets the text after its
// name; a missing module or entry is reported, not run.
#include <windows.h>

#include "um/rundll32.h"
#include "um/windowsroot.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

namespace {

std::string RecordedArguments()
{
    char text[256] = {};
    DWORD size = sizeof text;
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\MrvTestModule", 0, KEY_READ, &key)) return "<none>";
    LONG result = RegQueryValueExA(key, "RunDll", NULL, NULL, reinterpret_cast<BYTE*>(text), &size);
    RegCloseKey(key);
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\MrvTestModule");
    return result == ERROR_SUCCESS ? text : "<none>";
}

TEST(RunDll32, TheEntryGetsTheTextAfterItsName)
{
    std::string error;
    ASSERT_TRUE(umsim::RunDll32(std::string(MRV_TEST_MODULE) + ",TestRunDllEntry  {4d36e96c-e325} two", &error))
        << error;
    EXPECT_EQ(RecordedArguments(), "{4d36e96c-e325} two");
    ASSERT_TRUE(umsim::RunDll32("\"" + std::string(MRV_TEST_MODULE) + "\",TestRunDllEntry", &error)) << error;
    EXPECT_EQ(RecordedArguments(), "");
}

TEST(RunDll32, AModuleInTheWindowsRootIsFoundByItsDrivePath)
{
    auto directory = std::filesystem::path(testing::TempDir()) / "rundll32_test";
    std::filesystem::remove_all(directory);
    {
        umsim::WindowsRoot root(directory.string());
        ASSERT_TRUE(root.InstallFile(MRV_TEST_MODULE, "C:\\Windows\\System32\\testmod.so"));
        std::string error;
        EXPECT_TRUE(umsim::RunDll32("C:\\Windows\\System32\\testmod.so,TestRunDllEntry x", &error)) << error;
        EXPECT_EQ(RecordedArguments(), "x");
    }
    std::filesystem::remove_all(directory);
}

TEST(RunDll32, MissingModulesAndEntriesAreReportedWithoutRunningAnything)
{
    std::string error;
    EXPECT_FALSE(umsim::RunDll32("nosuchmodule.dll,Entry", &error));
    EXPECT_NE(error.find("The specified module could not be found."), std::string::npos);
    EXPECT_FALSE(umsim::RunDll32(std::string(MRV_TEST_MODULE) + ",NoSuchEntry arg", &error));
    EXPECT_NE(error.find("Missing entry:NoSuchEntry"), std::string::npos);
    for (const std::string& bad : std::vector<std::string>{"", "   ", std::string(MRV_TEST_MODULE), std::string(MRV_TEST_MODULE) + ", x",
                            "\"" + std::string(MRV_TEST_MODULE) + ",TestRunDllEntry"}) {
        EXPECT_FALSE(umsim::RunDll32(bad, &error)) << bad;
    }
    EXPECT_EQ(RecordedArguments(), "<none>");
}

}  // namespace
