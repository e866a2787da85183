// The co-installer as Windows loads it from the system directory: its entries
// by name, its own file name from its module path.
#include <windows.h>
#include <setupapi.h>

#include "um/windowsroot.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace {

typedef void(CALLBACK* RunDllEntry)(HWND, HINSTANCE, LPSTR, int);

template <class Routine>
Routine Find(HMODULE module, const char* name)
{
    return reinterpret_cast<Routine>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

std::string ListValue(const char* name)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\CoDeviceInstallers", 0, KEY_READ,
                      &key) != ERROR_SUCCESS) {
        return "<no key>";
    }
    char data[256] = {};
    DWORD size = sizeof data;
    LONG result = RegQueryValueExA(key, name, NULL, NULL, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    return result == ERROR_SUCCESS ? std::string(data, size) : "<missing>";
}

}  // namespace

TEST(CoInstallerModule, RegistersByTheNameItWasLoadedAs)
{
    auto directory = std::filesystem::path(testing::TempDir()) / "coinstaller_module_test";
    std::filesystem::remove_all(directory);
    {
        umsim::WindowsRoot root(directory.string());
        ASSERT_TRUE(root.Opened());
        ASSERT_TRUE(root.InstallFile(MRV_COINSTALLER_MODULE, "C:\\Windows\\System32\\mrvusbaudio_coinst.dll"));
        HMODULE module = LoadLibraryA("mrvusbaudio_coinst.dll");
        ASSERT_NE(module, nullptr);
        auto registerFor = Find<RunDllEntry>(module, "ClassCoInstaller_Register");
        auto unregisterFor = Find<RunDllEntry>(module, "ClassCoInstaller_Unregister");
        auto entry = Find<PCOINSTALLER_ROUTINE>(module, "ClassCoInstaller_Entry");
        ASSERT_TRUE(registerFor && unregisterFor && entry);

        char media[] = "{4d36e96c-e325-11ce-bfc1-08002be10318}";
        registerFor(NULL, NULL, media, SW_SHOWNORMAL);
        EXPECT_EQ(ListValue(media), std::string("mrvusbaudio_coinst.dll,ClassCoInstaller_Entry\0\0", 47));
        // Other install functions return at once, whatever they are given.
        EXPECT_EQ(entry(DIF_INSTALLDEVICE, INVALID_HANDLE_VALUE, NULL, NULL), DWORD(NO_ERROR));
        unregisterFor(NULL, NULL, media, SW_SHOWNORMAL);
        EXPECT_EQ(ListValue(media), "<missing>");
        FreeLibrary(module);
    }
    std::filesystem::remove_all(directory);
}
