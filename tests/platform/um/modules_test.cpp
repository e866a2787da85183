// LoadLibraryA / GetProcAddress / FreeLibrary.
#include <windows.h>

#include "um/modules.h"

#include <gtest/gtest.h>

TEST(Modules, KsUserExportsKsCreatePin)
{
    HMODULE module = LoadLibraryA("KSUSER.DLL");
    ASSERT_NE(module, nullptr);
    EXPECT_NE(GetProcAddress(module, "KsCreatePin"), nullptr);
    EXPECT_EQ(GetProcAddress(module, "KsCreateClock"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PROC_NOT_FOUND));
    EXPECT_TRUE(FreeLibrary(module));
}

TEST(Modules, AMissingLibraryIsModNotFound)
{
    EXPECT_EQ(LoadLibraryA("nosuchlibrary.dll"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_MOD_NOT_FOUND));
}

TEST(Modules, ASystemModuleCanBeTakenAway)
{
    umsim::SetSystemModuleAvailable("ksuser.dll", false);
    EXPECT_EQ(LoadLibraryA("ksuser.dll"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_MOD_NOT_FOUND));
    umsim::SetSystemModuleAvailable("ksuser.dll", true);
    HMODULE module = LoadLibraryA("ksuser.dll");
    EXPECT_NE(module, nullptr);
    FreeLibrary(module);
}

TEST(Modules, AHostSharedLibraryLoadsByItsWindowsName)
{
    // The C library is on every host; "libc.so.6" stands for a project library.
    HMODULE module = LoadLibraryA("libc.so.6");
    ASSERT_NE(module, nullptr);
    EXPECT_NE(GetProcAddress(module, "strlen"), nullptr);
    FreeLibrary(module);
}
