// GetFileVersionInfo / VerQueryValueA over module files: the kernel
// driver's module installed in a virtual root as system32\drivers\mrvusbaudio.sys,
// and the test program's own debug-flagged version.
#include <windows.h>

#include "um/version/versiontree.h"
#include "um/windowsroot.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> VersionBlock(const char* file)
{
    DWORD handle = 1;
    DWORD size = GetFileVersionInfoSizeA(file, &handle);
    EXPECT_EQ(handle, 0u);
    std::vector<uint8_t> block(size);
    if (!size || !GetFileVersionInfoA(file, 0, size, block.data())) block.clear();
    return block;
}

std::string Version(const VS_FIXEDFILEINFO& info)
{
    return std::to_string(info.dwFileVersionMS >> 16) + "." + std::to_string(info.dwFileVersionMS & 0xFFFF) + "." +
           std::to_string(info.dwFileVersionLS >> 16) + "." + std::to_string(info.dwFileVersionLS & 0xFFFF);
}

TEST(VersionInfo, TheInstalledKernelDriverFileCarriesItsVersion)
{
    auto directory = std::filesystem::path(testing::TempDir()) / "version_test_root";
    std::filesystem::remove_all(directory);
    {
        umsim::WindowsRoot root(directory.string());
        ASSERT_TRUE(root.Opened()) << root.Error();
        std::string error;
        ASSERT_TRUE(root.InstallFile(MRV_KERNEL_DRIVER_MODULE, "C:\\Windows\\System32\\drivers\\mrvusbaudio.sys", &error))
            << error;
        char system[MAX_PATH];
        GetSystemDirectoryA(system, sizeof system);
        std::string file = std::string(system) + "\\drivers\\mrvusbaudio.sys";
        std::vector<uint8_t> block = VersionBlock(file.c_str());
        ASSERT_FALSE(block.empty()) << GetLastError();
        VS_FIXEDFILEINFO* info = nullptr;
        UINT length = 0;
        ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&info), &length));
        EXPECT_EQ(length, sizeof(VS_FIXEDFILEINFO));
        EXPECT_EQ(info->dwSignature, DWORD(VS_FFI_SIGNATURE));
        EXPECT_EQ(Version(*info), "1.5.128.4");
        EXPECT_FALSE(info->dwFileFlags & info->dwFileFlagsMask & VS_FF_DEBUG);
        char* text = nullptr;
        ASSERT_TRUE(VerQueryValueA(block.data(), "\\StringFileInfo\\040904B0\\OriginalFilename",
                                   reinterpret_cast<void**>(&text), &length));
        EXPECT_STREQ(text, "mrvusbaudio.sys");
        EXPECT_EQ(length, 16u);
    }
    std::filesystem::remove_all(directory);
}

TEST(VersionInfo, FlagsStringsAndMissingValues)
{
    std::vector<uint8_t> block = VersionBlock(MRV_TEST_PROGRAM);  // testresources.rc
    ASSERT_FALSE(block.empty());
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&info), &length));
    EXPECT_EQ(Version(*info), "2.0.64.3");
    EXPECT_TRUE(info->dwFileFlags & info->dwFileFlagsMask & VS_FF_DEBUG);
    WORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                               &length));
    ASSERT_EQ(length, 4u);
    EXPECT_EQ(translation[0], 0x409);
    EXPECT_EQ(translation[1], 1200);
    void* missing = nullptr;
    EXPECT_FALSE(VerQueryValueA(block.data(), "\\StringFileInfo\\040904b0\\NoSuchValue", &missing, &length));
    EXPECT_FALSE(VerQueryValueA(block.data(), "\\StringFileInfo\\04070000\\FileVersion", &missing, &length));
}

TEST(VersionInfo, FilesWithoutVersionsAreRefused)
{
    EXPECT_EQ(GetFileVersionInfoSizeA("C:\\Windows\\System32\\drivers\\absent.sys", NULL), 0u);
    EXPECT_EQ(GetFileVersionInfoSizeA("/nonexistent/file", NULL), 0u);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(GetFileVersionInfoSizeA(MRV_TEST_MODULE, NULL), 0u);  // a module without resources
    EXPECT_EQ(GetLastError(), DWORD(ERROR_RESOURCE_DATA_NOT_FOUND));
}

// A node ending short of its value's alignment has an empty value, which
// must still point inside the block, as every value the walk returns does.
TEST(VersionInfo, AnEmptyValueOfAnUnalignedNodeStaysInsideTheBlock)
{
    const uint8_t block[] = {10, 0, 0, 0, 0, 0, 'A', 0, 0, 0};
    auto value = umsim::FindVersionValue(block, sizeof block, "\\");
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(value->size, 0u);
    EXPECT_LE(value->data, block + sizeof block);
}

}  // namespace
