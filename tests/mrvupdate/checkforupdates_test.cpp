// CheckForUpdates as an installer calls it, against a real loopback update
// server: the question it asks, how it reads the answer, the prompt, and the
// download with its dialog, Cancel and the installer's start.
#include <windows.h>

#include "updateserver.h"
#include "um/desktop.h"
#include "um/network.h"
#include "um/shell.h"
#include "um/umverifier.h"
#include "scratchwindowsroot.h"
#include "um/windowsroot.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

typedef int(__cdecl* CheckForUpdatesRoutine)(HWND, const char*, int, const char*);

constexpr char kServer[] = "updates.marvolan.example";
constexpr int kBar = 1001;  // the download dialog's progress bar
constexpr int kDownloadDialog = 102;
const std::string kInstaller = "MZ" + std::string(20000, '\x90');

std::string Prompt(const std::string& version)
{
    std::string text = "An update is available for this software";
    if (!version.empty()) text += " (version " + version + ")";
    return text + ".  Do you want to download and install it?";
}

std::string Offer(const std::string& file = "setup.exe")
{
    return "ReturnCode=0\nDownloadURL=http://" + std::string(kServer) + "/files/" + file + "\nUpdateVersion=2.0\n";
}

// Waits for a condition another thread makes true; false after 30 s.
bool WaitUntil(const std::function<bool()>& condition)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

class CheckForUpdatesTest : public testing::Test {
protected:
    void SetUp() override
    {
        m_root.emplace("checkforupdates_test");
        ASSERT_TRUE(m_root->Root().Opened());
        ASSERT_TRUE(umsim::AddHostsEntry("127.0.0.1", kServer));
        umsim::MapTcpPort(80, uint16_t(m_server.Port()));
        umsim::ResetDesktop();
        umsim::ResetShell();
        umsim::OnMessageBox([this](const umsim::MessageBoxRecord&) { return m_answer; });
        m_module = LoadLibraryA(MRV_UPDATE_MODULE);
        ASSERT_NE(m_module, nullptr);
        m_check = reinterpret_cast<CheckForUpdatesRoutine>(
            reinterpret_cast<void (*)()>(GetProcAddress(m_module, "CheckForUpdates")));
        ASSERT_NE(m_check, nullptr);
        m_parent = CreateWindowExA(0, "STATIC", "Marvolan Installer", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 320,
                                   200, NULL, NULL, NULL, NULL);
        ASSERT_NE(m_parent, nullptr);
    }

    void TearDown() override
    {
        m_server.Release();
        if (m_parent) DestroyWindow(m_parent);
        if (m_module) FreeLibrary(m_module);
        umsim::ClearTcpPortMap();
        umsim::ResetDesktop();
        umsim::ResetShell();
        m_root.reset();
    }

    int Check(const char* brand = "Marvolan", int productId = 16, const char* version = "1.5.4")
    {
        return m_check(m_parent, brand, productId, version);
    }

    // The prompts shown, by text.
    std::vector<std::string> Prompts() const
    {
        std::vector<std::string> texts;
        for (const auto& box : umsim::MessageBoxesShown()) {
            EXPECT_EQ(box.caption, "Software Update");
            EXPECT_EQ(box.flags, uint32_t(MB_YESNO));
            EXPECT_EQ(box.owner, static_cast<void*>(m_parent));
            texts.push_back(box.text);
        }
        return texts;
    }

    // The download folders in the user's temporary folder, as host paths.
    std::vector<std::filesystem::path> DownloadFolders() const
    {
        char temp[MAX_PATH];
        EXPECT_NE(GetTempPathA(MAX_PATH, temp), 0u);
        std::vector<std::filesystem::path> folders;
        auto host = umsim::WindowsRoot::HostPath(temp);
        if (!host || !std::filesystem::exists(*host)) return folders;
        for (const auto& entry : std::filesystem::directory_iterator(*host)) {
            if (entry.path().filename().string().rfind("sud", 0) == 0) folders.push_back(entry.path());
        }
        return folders;
    }

    std::optional<umtest::ScratchWindowsRoot> m_root;
    updatetest::UpdateServer m_server;
    HMODULE m_module = NULL;
    CheckForUpdatesRoutine m_check = nullptr;
    HWND m_parent = NULL;
    int m_answer = IDNO;
};

// ---- The answer: what offers an update, and the prompt it gives ----

struct AnswerCase {
    const char* name;
    std::string body;
    const char* prompt;  // the prompt's version text; nullptr: no update offered
};

std::string Padded(size_t size, const std::string& tail)
{
    std::string head = "ReturnCode=0\nDownloadURL=http://x/setup.exe\n";
    return head + std::string(size - head.size() - tail.size(), '#') + tail;
}

class AnswerTest : public CheckForUpdatesTest, public testing::WithParamInterface<AnswerCase> {};

TEST_P(AnswerTest, OffersAnUpdateOnlyWhenTheVerdictIsZeroWithAUrl)
{
    m_server.SetAnswer(GetParam().body);
    const int result = Check();
    if (!GetParam().prompt) {
        EXPECT_EQ(result, 1);
        EXPECT_TRUE(Prompts().empty());
        return;
    }
    EXPECT_EQ(result, -1) << "declined";
    EXPECT_EQ(Prompts(), std::vector<std::string>{Prompt(GetParam().prompt)});
    EXPECT_TRUE(DownloadFolders().empty()) << "No creates nothing";
}

INSTANTIATE_TEST_SUITE_P(
    Bodies, AnswerTest,
    testing::Values(
        AnswerCase{"ThreeLines", Offer(), "2.0"},
        AnswerCase{"NonZeroVerdict", "ReturnCode=1\nDownloadURL=http://x/setup.exe\nUpdateVersion=2.0\n", nullptr},
        AnswerCase{"NegativeVerdict", "ReturnCode=-3\nDownloadURL=http://x/setup.exe\n", nullptr},
        // Windows' atoi stops at the end of its range; it never wraps to 0.
        AnswerCase{"HugeVerdict", "ReturnCode=4294967296\nDownloadURL=http://x/setup.exe\n", nullptr},
        AnswerCase{"EmptyBody", "", nullptr},
        AnswerCase{"NoUrl", "ReturnCode=0\nUpdateVersion=2.0\n", nullptr},
        AnswerCase{"EmptyUrl", "ReturnCode=0\nDownloadURL=\nUpdateVersion=2.0\n", nullptr},
        AnswerCase{"NoVerdict", "DownloadURL=http://x/setup.exe\n", ""},
        AnswerCase{"NonNumericVerdict", "ReturnCode=yes\nDownloadURL=http://x/setup.exe\n", ""},
        AnswerCase{"AnyOrder", "UpdateVersion=3.1\nDownloadURL=http://x/setup.exe\nReturnCode=0\n", "3.1"},
        AnswerCase{"KeyInsideAUrlComesFirst", "DownloadURL=http://x/?ReturnCode=1\nReturnCode=0\n", nullptr},
        AnswerCase{"LastLineLosesItsLastCharacter", "ReturnCode=0\nDownloadURL=http://x/s.exe\nUpdateVersion=2.0",
                   "2."},
        AnswerCase{"EmptyValueAtTheVeryEnd", "DownloadURL=http://x/setup.exe\nUpdateVersion=", ""},
        AnswerCase{"CarriageReturnsStay", "ReturnCode=0\r\nDownloadURL=http://x/setup.exe\r\nUpdateVersion=2.0\r\n",
                   "2.0\r"},
        AnswerCase{"Body4095", Padded(4095, "UpdateVersion=9\n"), "9"},
        // The line feed is the 4096th byte, which is dropped: the value is
        // then on a last line and loses its one character.
        AnswerCase{"Body4096", Padded(4096, "UpdateVersion=9\n"), ""},
        AnswerCase{"Body10000", Padded(10000, "UpdateVersion=9\n"), ""}),
    [](const testing::TestParamInfo<AnswerCase>& info) { return info.param.name; });

// ---- The question ----

struct QueryCase {
    const char* name;
    std::string brand;
    int productId;
    std::string version;
    std::string target;
};

class QueryTest : public CheckForUpdatesTest, public testing::WithParamInterface<QueryCase> {};

TEST_P(QueryTest, AsksWithOneGetOfTheVersionCheckPath)
{
    m_server.SetAnswer("ReturnCode=1\n");
    EXPECT_EQ(m_check(m_parent, GetParam().brand.c_str(), GetParam().productId, GetParam().version.c_str()), 1);
    auto requests = m_server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].target, GetParam().target);
    EXPECT_EQ(requests[0].host, kServer);
    EXPECT_EQ(requests[0].userAgent, "AppVerCheck/0.0");
}

const std::string k63(63, 'b');
const std::string k64(64, 'v');

INSTANTIATE_TEST_SUITE_P(
    Fields, QueryTest,
    testing::Values(
        QueryCase{"Plain", "Marvolan", 16, "1.5.4",
                  "/versioncheck/?OSType=Windows&Brand=Marvolan&ProductId=16&Version=1.5.4"},
        QueryCase{"Empty", "", -7, "", "/versioncheck/?OSType=Windows&Brand=&ProductId=-7&Version="},
        QueryCase{"Longest", k63, 0, k63,
                  "/versioncheck/?OSType=Windows&Brand=" + k63 + "&ProductId=0&Version=" + k63},
        QueryCase{"CutTo63", k64, 1, k64,
                  "/versioncheck/?OSType=Windows&Brand=" + k64.substr(0, 63) + "&ProductId=1&Version=" +
                      k64.substr(0, 63)}),
    [](const testing::TestParamInfo<QueryCase>& info) { return info.param.name; });

TEST_F(CheckForUpdatesTest, UnreachableServerShowsNothing)
{
    m_server.SetAnswer(Offer());
    umsim::MapTcpPort(80, 1);  // nothing listens there
    EXPECT_EQ(Check(), -1);
    EXPECT_TRUE(Prompts().empty());
    EXPECT_TRUE(m_server.Requests().empty());
}

// ---- The download ----

TEST_F(CheckForUpdatesTest, AcceptedUpdateIsDownloadedAndStarted)
{
    m_server.SetAnswer(Offer());
    m_server.SetInstaller("setup.exe", kInstaller);
    m_answer = IDYES;
    EXPECT_EQ(Check(), 0);
    auto folders = DownloadFolders();
    ASSERT_EQ(folders.size(), 1u);
    std::ifstream file(folders[0] / "setup.exe", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}), kInstaller);

    auto runs = umsim::ShellExecutions();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].verb, "open");
    EXPECT_EQ(runs[0].file.substr(runs[0].file.size() - 10), "\\setup.exe");
    EXPECT_EQ(runs[0].show, SW_SHOWNORMAL);
    EXPECT_TRUE(runs[0].started);
    EXPECT_FALSE(IsWindowVisible(m_parent)) << "the caller's window stays hidden";
    EXPECT_TRUE(umsim::OpenDialogs().empty()) << "the dialog is gone";
}

TEST_F(CheckForUpdatesTest, InstallerTheShellCannotStartFails)
{
    for (const char* file : {"notes.txt", "broken.exe"}) {
        SCOPED_TRACE(file);
        umsim::ResetShell();
        m_server.SetAnswer(Offer(file));
        m_server.SetInstaller(file, "not a program");
        m_answer = IDYES;
        EXPECT_EQ(Check(), 1);
        auto runs = umsim::ShellExecutions();
        ASSERT_EQ(runs.size(), 1u);
        EXPECT_FALSE(runs[0].started);
    }
}

TEST_F(CheckForUpdatesTest, FailedDownloadStartsNothing)
{
    // Unknown to the server, and a URL without a "/" to name a file by.
    for (const std::string& url : {std::string("http://") + kServer + "/files/gone.exe", std::string("setup.exe")}) {
        SCOPED_TRACE(url);
        m_server.SetAnswer("ReturnCode=0\nDownloadURL=" + url + "\n");
        m_answer = IDYES;
        EXPECT_EQ(Check(), 1);
        EXPECT_TRUE(umsim::ShellExecutions().empty());
    }
}

TEST_F(CheckForUpdatesTest, CancelStopsTheDownloadAndLeavesTheFolder)
{
    m_server.SetAnswer(Offer());
    m_server.SetInstaller("setup.exe", kInstaller);
    m_server.HoldHalfway();
    m_answer = IDYES;
    umsim::OnDialog(kDownloadDialog, [](umsim::Dialog& dialog) { EXPECT_TRUE(dialog.Press(IDCANCEL)); });
    EXPECT_EQ(Check(), 1);
    EXPECT_TRUE(umsim::ShellExecutions().empty());
    EXPECT_EQ(DownloadFolders().size(), 1u);
    EXPECT_FALSE(IsWindowVisible(m_parent));
}

TEST_F(CheckForUpdatesTest, DialogFollowsTheDownload)
{
    m_server.SetAnswer(Offer());
    m_server.SetInstaller("setup.exe", kInstaller);
    m_server.HoldHalfway();
    m_answer = IDYES;
    const int size = int(kInstaller.size());
    umsim::OnDialog(kDownloadDialog, [&](umsim::Dialog& dialog) {
        EXPECT_EQ(dialog.Caption(), "Software Update");
        EXPECT_EQ(dialog.Text(1002), "Download in progress...");
        EXPECT_EQ(dialog.Position(kBar), 0);
        std::cout << "At 0 %:\n" << dialog.Picture() << "\n";
    });
    std::string done;
    umsim::OnShellStart([&](const umsim::ShellExecuteRecord&) {
        auto open = umsim::OpenDialogs();
        ASSERT_EQ(open.size(), 1u);
        EXPECT_EQ(open[0].Position(kBar), size);
        done = open[0].Picture();
    });
    std::thread watcher([&] {
        ASSERT_TRUE(m_server.WaitHalfway());
        ASSERT_TRUE(WaitUntil([&] {
            auto open = umsim::OpenDialogs();
            return !open.empty() && open[0].Range(kBar).second == size && open[0].Position(kBar) == size / 2;
        }));
        std::cout << "Halfway:\n" << umsim::OpenDialogs().at(0).Picture() << "\n";
        m_server.Release();
    });
    EXPECT_EQ(Check(), 0);
    watcher.join();
    std::cout << "Done:\n" << done << "\n";
    EXPECT_FALSE(done.empty());
}

TEST_F(CheckForUpdatesTest, QuitDuringTheDownloadLeavesTheWorkerItsJob)
{
    m_server.SetAnswer(Offer());
    m_server.SetInstaller("setup.exe", kInstaller);
    m_server.HoldHalfway();
    m_answer = IDYES;
    umsim::OnDialog(kDownloadDialog, [](umsim::Dialog&) { PostQuitMessage(7); });
    EXPECT_EQ(Check(), -1);
    MSG quit{};
    EXPECT_TRUE(PeekMessageW(&quit, NULL, 0, 0, PM_REMOVE));
    EXPECT_EQ(quit.message, UINT(WM_QUIT)) << "posted again for the caller's own loop";
    EXPECT_EQ(quit.wParam, WPARAM(7));
    // The worker finishes the download on its own and starts the installer.
    m_server.Release();
    EXPECT_TRUE(WaitUntil([] { return !umsim::ShellExecutions().empty(); }));
}

// ---- Out of memory at every heap allocation of an accepted update ----

// One more than the check with its download allocates; the coverage test
// keeps this in step with the code.
constexpr uint64_t kDownloadCells = 2;

class DownloadFaults : public CheckForUpdatesTest, public testing::WithParamInterface<uint64_t> {
protected:
    void SetUp() override
    {
        CheckForUpdatesTest::SetUp();
        m_server.SetAnswer(Offer());
        m_server.SetInstaller("setup.exe", kInstaller);
        m_answer = IDYES;
    }

    // The check started the installer it downloaded.
    static bool InstallerStarted()
    {
        auto runs = umsim::ShellExecutions();
        return runs.size() == 1 && runs[0].started;
    }
};

TEST_P(DownloadFaults, FailsWithNothingLeftOrStartsTheInstallerAndTheNextCheckWorks)
{
    const size_t handlesBefore = umsim::OpenHandleCount();
    const uint64_t injectedBefore = umsim::InjectedHeapFailures();
    umsim::FailNthHeapAllocation(GetParam());
    const int result = Check();
    umsim::ClearHeapFaults();
    const bool injected = umsim::InjectedHeapFailures() != injectedBefore;
    if (injected) {
        EXPECT_EQ(result, 1);
        EXPECT_TRUE(umsim::ShellExecutions().empty());
    } else {
        EXPECT_EQ(result, 0);
        EXPECT_TRUE(InstallerStarted());
    }
    EXPECT_TRUE(umsim::OpenDialogs().empty()) << "a dialog was left up";
    EXPECT_EQ(umsim::OpenHandleCount(), handlesBefore);

    umsim::ResetShell();
    EXPECT_EQ(Check(), 0);
    EXPECT_TRUE(InstallerStarted());
}

INSTANTIATE_TEST_SUITE_P(Allocations, DownloadFaults, testing::Range<uint64_t>(1, kDownloadCells + 1),
                         [](const testing::TestParamInfo<uint64_t>& info) {
                             return "Download" + std::to_string(info.param);
                         });

class DownloadFaultsCoverage : public DownloadFaults {};

TEST_F(DownloadFaultsCoverage, TheLastCellIsPastTheChecksLastAllocation)
{
    umsim::FailNthHeapAllocation(UINT64_MAX);
    EXPECT_EQ(Check(), 0);
    const uint64_t allocations = umsim::HeapAllocationsSinceArmed();
    umsim::ClearHeapFaults();
    std::cout << "An accepted update makes " << allocations << " heap allocations\n";
    EXPECT_GT(allocations, 0u) << "the checker's heap is not the one the faults reach";
    EXPECT_LT(allocations, kDownloadCells);
}

}  // namespace
