// ShellExecuteA: what the shell would start, and its errors for what it
// would not, recorded for the tests; nothing runs on the host.
#include <windows.h>
#include <shellapi.h>

#include "um/shell.h"
#include "um/windowsroot.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

class Shell : public testing::Test {
protected:
    void SetUp() override
    {
        umsim::ResetShell();
        auto directory = std::filesystem::path(testing::TempDir()) / "shell_test";
        std::filesystem::remove_all(directory);
        m_root = std::make_unique<umsim::WindowsRoot>(directory.string());
        ASSERT_TRUE(m_root->Opened()) << m_root->Error();
        ASSERT_TRUE(CreateDirectoryA("C:\\Downloads", NULL));
        Write("C:\\Downloads\\setup.exe", std::string("MZ\x90\0", 4));
        Write("C:\\Downloads\\broken.exe", "<html>not found</html>");
        Write("C:\\Downloads\\install.bat", "@echo off\r\n");
        Write("C:\\Downloads\\package.msi", "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1 and more");
        Write("C:\\Downloads\\notes.xyz", "text");
    }
    void TearDown() override { umsim::ResetShell(); }

    static void Write(const char* windowsPath, const std::string& bytes)
    {
        std::ofstream(*umsim::WindowsRoot::HostPath(windowsPath), std::ios::binary) << bytes;
    }

    std::unique_ptr<umsim::WindowsRoot> m_root;
};

struct Case {
    const char* verb;
    const char* file;
    intptr_t result;
    DWORD lastError;
};

TEST_F(Shell, OpensWhatTheShellWouldStartAndFailsAsItWould)
{
    const Case cases[] = {
        {"open", "C:\\Downloads\\setup.exe", 42, ERROR_SUCCESS},
        {nullptr, "C:\\DOWNLOADS\\Setup.EXE", 42, ERROR_SUCCESS},
        {"runas", "C:\\Downloads\\install.bat", 42, ERROR_SUCCESS},
        {"open", "C:\\Downloads\\package.msi", 42, ERROR_SUCCESS},
        {"open", "C:\\Downloads", 42, ERROR_SUCCESS},
        {"open", "C:\\Downloads\\broken.exe", ERROR_BAD_FORMAT, ERROR_BAD_FORMAT},
        {"open", "C:\\Downloads\\notes.xyz", SE_ERR_NOASSOC, ERROR_NO_ASSOCIATION},
        {"print", "C:\\Downloads\\setup.exe", SE_ERR_NOASSOC, ERROR_NO_ASSOCIATION},
        {"open", "C:\\Downloads\\missing.exe", SE_ERR_FNF, ERROR_FILE_NOT_FOUND},
        {"open", "C:\\Nowhere\\setup.exe", SE_ERR_PNF, ERROR_PATH_NOT_FOUND},
        {"open", "", SE_ERR_FNF, ERROR_FILE_NOT_FOUND},
    };
    for (const Case& c : cases) {
        SetLastError(12345);
        HINSTANCE result = ShellExecuteA(NULL, c.verb, c.file, NULL, NULL, SW_SHOWNORMAL);
        EXPECT_EQ(reinterpret_cast<intptr_t>(result), c.result) << c.file;
        EXPECT_EQ(GetLastError(), c.lastError) << c.file;
    }
    auto records = umsim::ShellExecutions();
    ASSERT_EQ(records.size(), std::size(cases));
    for (size_t i = 0; i < records.size(); ++i) EXPECT_EQ(records[i].started, cases[i].result > 32) << cases[i].file;
}

TEST_F(Shell, RecordsTheCallAndShowsStartsToTheLauncher)
{
    std::vector<std::string> launched;
    umsim::OnShellStart([&](const umsim::ShellExecuteRecord& r) { launched.push_back(r.file); });
    HWND owner = reinterpret_cast<HWND>(0x1234);  // only recorded
    EXPECT_GT(reinterpret_cast<intptr_t>(ShellExecuteA(owner, "open", "setup.exe", "/quiet", "C:\\Downloads\\",
                                                       SW_HIDE)),
              32)
        << "a relative name is found in the folder given";
    EXPECT_EQ(reinterpret_cast<intptr_t>(ShellExecuteA(NULL, "open", "setup.exe", NULL, NULL, SW_SHOW)), SE_ERR_FNF);
    ASSERT_EQ(umsim::ShellExecutions().size(), 2u);
    const umsim::ShellExecuteRecord r = umsim::ShellExecutions()[0];
    EXPECT_EQ(r.owner, owner);
    EXPECT_EQ(r.verb, "open");
    EXPECT_EQ(r.file, "setup.exe");
    EXPECT_EQ(r.parameters, "/quiet");
    EXPECT_EQ(r.directory, "C:\\Downloads\\");
    EXPECT_EQ(r.show, SW_HIDE);
    EXPECT_EQ(r.hostPath, *umsim::WindowsRoot::HostPath("C:\\Downloads\\setup.exe"));
    EXPECT_EQ(launched, std::vector<std::string>{"setup.exe"}) << "only what started";
}

}  // namespace
