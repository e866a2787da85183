// LoadLibraryA / GetProcAddress / FreeLibrary / GetModuleHandleA /
// GetModuleFileNameA, the built-in system modules and DllMain.
#include <windows.h>

#include "um/debugoutput.h"
#include "um/modules.h"
#include "um/umverifier.h"
#include "um/windowsroot.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace {

typedef BOOL(WINAPI* IsWow64ProcessRoutine)(HANDLE, PBOOL);
typedef BOOL(WINAPI* Wow64DisableRoutine)(PVOID*);

template <class Routine>
Routine Find(HMODULE module, const char* name)
{
    return reinterpret_cast<Routine>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

TEST(Modules, KsUserExportsKsCreatePin)
{
    HMODULE module = LoadLibraryA("KSUSER.DLL");
    ASSERT_NE(module, nullptr);
    EXPECT_NE(GetProcAddress(module, "KsCreatePin"), nullptr);
    EXPECT_EQ(GetProcAddress(module, "KsCreateClock"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PROC_NOT_FOUND));
    EXPECT_TRUE(FreeLibrary(module));
}

TEST(Modules, Kernel32IsResidentAndAnswersNotWow64)
{
    HMODULE kernel32 = GetModuleHandleA("kernel32");
    ASSERT_NE(kernel32, nullptr);
    EXPECT_EQ(LoadLibraryA("KERNEL32.DLL"), kernel32);
    EXPECT_TRUE(FreeLibrary(kernel32));
    EXPECT_EQ(GetModuleHandleA("kernel32.dll"), kernel32);  // never unloaded
    auto isWow64 = Find<IsWow64ProcessRoutine>(kernel32, "IsWow64Process");
    ASSERT_NE(isWow64, nullptr);
    BOOL wow64 = TRUE;
    EXPECT_TRUE(isWow64(GetCurrentProcess(), &wow64));
    EXPECT_FALSE(wow64);
    auto disable = Find<Wow64DisableRoutine>(kernel32, "Wow64DisableWow64FsRedirection");
    ASSERT_NE(disable, nullptr);
    PVOID old = nullptr;
    EXPECT_FALSE(disable(&old));
    EXPECT_NE(GetProcAddress(kernel32, "Wow64RevertWow64FsRedirection"), nullptr);
    char path[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(kernel32, path, sizeof path), 0u);
    EXPECT_STREQ(path, "C:\\Windows\\System32\\kernel32.dll");
}

TEST(Modules, AMissingOrWithdrawnModuleIsModNotFound)
{
    EXPECT_EQ(LoadLibraryA("nosuchlibrary.dll"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_MOD_NOT_FOUND));
    umsim::SetSystemModuleAvailable("ksuser.dll", false);
    EXPECT_EQ(LoadLibraryA("ksuser.dll"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_MOD_NOT_FOUND));
    umsim::SetSystemModuleAvailable("ksuser.dll", true);
    HMODULE module = LoadLibraryA("ksuser.dll");
    EXPECT_NE(module, nullptr);
    FreeLibrary(module);
}

TEST(Modules, DllMainAttachesAtTheFirstLoadAndDetachesAtTheLastFree)
{
    umsim::TakeDebugOutput();
    HMODULE first = LoadLibraryA(MRV_TEST_MODULE);
    ASSERT_NE(first, nullptr);
    HMODULE second = LoadLibraryA(MRV_TEST_MODULE);
    EXPECT_EQ(second, first);
    EXPECT_EQ(GetModuleHandleA(MRV_TEST_MODULE), first);
    EXPECT_EQ(umsim::TakeDebugOutput(), "DllMain 1 module\n");
    EXPECT_NE(GetProcAddress(first, "TestModuleAnswer"), nullptr);
    EXPECT_EQ(GetProcAddress(first, "strlen"), nullptr);  // the C library's, not the module's
    EXPECT_TRUE(FreeLibrary(second));
    EXPECT_EQ(umsim::TakeDebugOutput(), "");
    EXPECT_TRUE(FreeLibrary(first));
    EXPECT_EQ(umsim::TakeDebugOutput(), "DllMain 0 module\n");
    EXPECT_EQ(GetModuleHandleA(MRV_TEST_MODULE), nullptr);
    umsim::ViolationCapture violations;
    EXPECT_FALSE(FreeLibrary(first));
    EXPECT_TRUE(violations.Saw("handle", "FreeLibrary"));
}

TEST(Modules, AFailedAttachFailsTheLoad)
{
    umsim::TakeDebugOutput();
    EXPECT_EQ(LoadLibraryA(MRV_FAILING_MODULE), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_DLL_INIT_FAILED));
    EXPECT_EQ(umsim::TakeDebugOutput(), "DllMain 1 module\nDllMain 0 module\n");
    EXPECT_EQ(GetModuleHandleA(MRV_FAILING_MODULE), nullptr);
}

TEST(Modules, AModuleLinkedIntoTheProgramIsFoundByName)
{
    HMODULE platform = GetModuleHandleA("mrvplatform.dll");  // libmrvplatform.so
    ASSERT_NE(platform, nullptr);
    char path[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(platform, path, sizeof path), 0u);
    EXPECT_EQ(GetModuleHandleA(path), platform);
    EXPECT_EQ(GetProcAddress(platform, "strlen"), nullptr);  // not the platform's own
    HMODULE libc = GetModuleHandleA("libc.so.6");
    ASSERT_NE(libc, nullptr);
    EXPECT_NE(GetProcAddress(libc, "strlen"), nullptr);
}

TEST(Modules, GetModuleFileNameCutsAsWindows)
{
    HMODULE module = LoadLibraryA(MRV_TEST_MODULE);
    ASSERT_NE(module, nullptr);
    std::string full = MRV_TEST_MODULE;
    char path[MAX_PATH];
    EXPECT_EQ(GetModuleFileNameA(module, path, sizeof path), DWORD(full.size()));
    EXPECT_EQ(path, full);
    EXPECT_EQ(GetModuleFileNameA(module, path, 5), 5u);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(std::string(path), full.substr(0, 4));
    FreeLibrary(module);
    EXPECT_EQ(GetModuleFileNameA(module, path, sizeof path), 0u);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_MOD_NOT_FOUND));
    EXPECT_GT(GetModuleFileNameA(NULL, path, sizeof path), 0u);  // the program
    EXPECT_NE(std::string(path).find("platform_um_test"), std::string::npos);
}

TEST(Modules, AModuleInstalledInTheWindowsRootReportsItsWindowsPath)
{
    auto directory = std::filesystem::path(testing::TempDir()) / "modules_test_root";
    std::filesystem::remove_all(directory);
    {
        umsim::WindowsRoot root(directory.string());
        ASSERT_TRUE(root.Opened());
        ASSERT_TRUE(root.InstallFile(MRV_TEST_MODULE, "C:\\Windows\\System32\\MrvTestModule.dll"));
        char path[MAX_PATH];
        // By its bare name from the system directory, or by its Windows path.
        HMODULE byName = LoadLibraryA("mrvtestmodule.dll");
        ASSERT_NE(byName, nullptr);
        ASSERT_GT(GetModuleFileNameA(byName, path, sizeof path), 0u);
        EXPECT_STREQ(path, "C:\\Windows\\System32\\mrvtestmodule.dll");
        HMODULE byPath = LoadLibraryA("C:\\Windows\\System32\\MrvTestModule.dll");
        EXPECT_EQ(byPath, byName);
        EXPECT_EQ(GetModuleHandleA("C:\\Windows\\System32\\MrvTestModule.dll"), byName);
        FreeLibrary(byPath);
        FreeLibrary(byName);
    }
    // Without the root the name means nothing installed.
    EXPECT_EQ(LoadLibraryA("C:\\Windows\\System32\\MrvTestModule.dll"), nullptr);
    std::filesystem::remove_all(directory);
}

TEST(Modules, GetSystemDirectoryReportsTheSizeItNeeds)
{
    char small[4];
    EXPECT_EQ(GetSystemDirectoryA(small, sizeof small), 20u);
    char path[MAX_PATH];
    EXPECT_EQ(GetSystemDirectoryA(path, sizeof path), 19u);
    EXPECT_STREQ(path, "C:\\Windows\\System32");
}

}  // namespace
