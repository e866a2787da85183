// The user's temporary folder, unique temporary names, and making and
// deleting in the virtual Windows root, with Windows' errors.
#include <windows.h>

#include "scratchwindowsroot.h"
#include "um/windowsroot.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <set>
#include <optional>
#include <string>

namespace {

class TempFiles : public testing::Test {
protected:
    void SetUp() override
    {
        m_root.emplace("tempfiles_test");
        ASSERT_TRUE(m_root->Root().Opened()) << m_root->Root().Error();
    }
    void TearDown() override { m_root.reset(); }

    static std::string TempPath()
    {
        char path[MAX_PATH];
        EXPECT_GT(GetTempPathA(MAX_PATH, path), 0u);
        return path;
    }

    std::optional<umtest::ScratchWindowsRoot> m_root;
};

TEST_F(TempFiles, TheTempPathFollowsTheBufferSizeContract)
{
    const std::string expected = "C:\\Users\\User\\AppData\\Local\\Temp\\";
    char buffer[MAX_PATH];
    memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(GetTempPathA(DWORD(expected.size()), buffer), expected.size() + 1) << "too small: the size needed";
    EXPECT_EQ(buffer[0], 'x');
    EXPECT_EQ(GetTempPathA(DWORD(expected.size() + 1), buffer), expected.size());
    EXPECT_EQ(buffer, expected);
    EXPECT_TRUE(std::filesystem::is_directory(*umsim::WindowsRoot::HostPath(expected)));
}

TEST_F(TempFiles, UniqueNamesAreCreatedEmptyAndNeverRepeat)
{
    const std::string folder = TempPath();
    std::set<std::string> names;
    for (int i = 0; i < 50; ++i) {
        char name[MAX_PATH];
        UINT unique = GetTempFileNameA(folder.c_str(), "sudo", 0, name);
        ASSERT_NE(unique, 0u);
        char expected[MAX_PATH];
        snprintf(expected, sizeof expected, "%ssud%X.tmp", folder.c_str(), unique);
        EXPECT_STREQ(name, expected) << "three characters of the prefix, the number in hex";
        auto host = umsim::WindowsRoot::HostPath(name);
        ASSERT_TRUE(host && std::filesystem::is_regular_file(*host));
        EXPECT_EQ(std::filesystem::file_size(*host), 0u);
        names.insert(name);
    }
    EXPECT_EQ(names.size(), 50u);

    // A number of the caller's own names a file without making it.
    char name[MAX_PATH];
    EXPECT_EQ(GetTempFileNameA(folder.c_str(), "", 0xABC, name), 0xABCu);
    EXPECT_EQ(name, folder + "ABC.tmp");
    EXPECT_FALSE(std::filesystem::exists(*umsim::WindowsRoot::HostPath(name)));

    EXPECT_EQ(GetTempFileNameA("C:\\Users\\User\\Missing", "sud", 0, name), 0u);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_DIRECTORY));
}

TEST_F(TempFiles, ATempNameBecomesAFolderAsInstallersMakeThem)
{
    char name[MAX_PATH];
    ASSERT_NE(GetTempFileNameA(TempPath().c_str(), "sud", 0, name), 0u);
    EXPECT_FALSE(CreateDirectoryA(name, NULL));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
    EXPECT_TRUE(DeleteFileA(name));
    EXPECT_FALSE(DeleteFileA(name));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(CreateDirectoryA(name, NULL));
    EXPECT_TRUE(std::filesystem::is_directory(*umsim::WindowsRoot::HostPath(name)));
    EXPECT_FALSE(DeleteFileA(name)) << "a folder is not deleted as a file";
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));

    const std::string orphan = std::string(name) + "\\missing\\inner";
    EXPECT_FALSE(CreateDirectoryA(orphan.c_str(), NULL));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));
    EXPECT_FALSE(DeleteFileA(orphan.c_str()));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));
    // Nothing outside the root is reachable.
    EXPECT_FALSE(CreateDirectoryA("relative", NULL));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));
}

}  // namespace
