// URLDownloadToFileA against a scripted loopback server: the file and the
// callbacks of a download, a cancel from the callback that keeps the part
// already written, redirects, and the HRESULTs of failed downloads.
#include <windows.h>
#include <urlmon.h>

#include "scriptedhttpserver.h"
#include "um/network.h"
#include "um/umverifier.h"
#include "um/windowsroot.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

// Records every call; answers E_ABORT from the named point on, as a
// caller's Cancel button does.
class RecordingCallback : public IBindStatusCallback {
public:
    struct Progress {
        ULONG progress, maximum, status;
    };

    ~RecordingCallback()
    {
        if (binding) binding->Release();
    }

    STDMETHODIMP QueryInterface(REFIID, void**) override { return E_FAIL; }
    STDMETHODIMP_(ULONG) AddRef() override { return Note("AddRef"); }
    STDMETHODIMP_(ULONG) Release() override { return Note("Release"); }
    STDMETHODIMP OnStartBinding(DWORD, IBinding* pib) override
    {
        if (binding) binding->Release();
        if (pib) pib->AddRef();
        binding = pib;
        return Note("OnStartBinding");
    }
    STDMETHODIMP GetPriority(LONG*) override { return Note("GetPriority"); }
    STDMETHODIMP OnLowResource(DWORD) override { return Note("OnLowResource"); }
    STDMETHODIMP OnProgress(ULONG progress, ULONG maximum, ULONG status, LPCWSTR) override
    {
        progresses.push_back({progress, maximum, status});
        if (status == BINDSTATUS_DOWNLOADINGDATA && abortOnData) cancelFrom = "OnProgress";
        if (status == BINDSTATUS_DOWNLOADINGDATA && abortThroughBinding) binding->Abort();
        return Note("OnProgress");
    }
    STDMETHODIMP OnStopBinding(HRESULT result, LPCWSTR) override
    {
        stopResult = result;
        return Note("OnStopBinding");
    }
    STDMETHODIMP GetBindInfo(DWORD*, BINDINFO*) override { return Note("GetBindInfo"); }
    STDMETHODIMP OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override { return Note("OnDataAvailable"); }
    STDMETHODIMP OnObjectAvailable(REFIID, IUnknown*) override { return Note("OnObjectAvailable"); }

    std::vector<ULONG> Statuses() const
    {
        std::vector<ULONG> statuses;
        for (const Progress& p : progresses)
            if (statuses.empty() || statuses.back() != p.status) statuses.push_back(p.status);
        return statuses;
    }

    std::vector<std::string> calls;
    std::vector<Progress> progresses;
    std::optional<HRESULT> stopResult;
    std::string cancelFrom;  // the first call that answers E_ABORT
    bool abortOnData = false;
    bool abortThroughBinding = false;
    IBinding* binding = nullptr;  // held from OnStartBinding on

private:
    HRESULT Note(const char* call)
    {
        if (calls.empty() || calls.back() != call) calls.push_back(call);
        if (cancelFrom == call) m_cancelled = true;
        return m_cancelled ? E_ABORT : S_OK;
    }

    bool m_cancelled = false;
};

class UrlDownload : public testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::remove_all(m_directory);
        m_root = std::make_unique<umsim::WindowsRoot>(m_directory.string());
        ASSERT_TRUE(m_root->Opened());
        ASSERT_TRUE(umsim::AddHostsEntry("127.0.0.1", "updates.marvolan.example"));
        umsim::MapTcpPort(80, m_server.Port());
        std::filesystem::create_directories(*umsim::WindowsRoot::HostPath(kFolder));
    }
    void TearDown() override
    {
        umsim::ClearTcpPortMap();
        m_root.reset();
        std::filesystem::remove_all(m_directory);
        EXPECT_EQ(umsim::OpenHandleCount(), m_handles);
    }
    // The target file's bytes; nullopt when there is no such file.
    std::optional<std::string> Target() const
    {
        std::ifstream in(*umsim::WindowsRoot::HostPath(kTarget), std::ios::binary);
        if (!in) return std::nullopt;
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    static constexpr char kFolder[] = "C:\\Users\\Test\\AppData\\Local\\Temp\\sud1.tmp";
    static constexpr char kTarget[] = "C:\\Users\\Test\\AppData\\Local\\Temp\\sud1.tmp\\setup.exe";
    static constexpr char kUrl[] = "http://updates.marvolan.example/files/setup.exe?v=2";
    std::filesystem::path m_directory = std::filesystem::path(testing::TempDir()) / "urldownload_test";
    std::unique_ptr<umsim::WindowsRoot> m_root;
    size_t m_handles = umsim::OpenHandleCount();
    umtest::ScriptedHttpServer m_server;
    RecordingCallback m_callback;
};

TEST_F(UrlDownload, WritesTheFileAndReportsEveryStep)
{
    m_server.Answer({"HTTP/1.1 200 OK\r\nContent-Length: 11\r\n\r\nhello", " world"}, true);
    m_server.ReleasePiece();
    EXPECT_EQ(URLDownloadToFileA(NULL, kUrl, kTarget, 0, &m_callback), S_OK);
    EXPECT_EQ(Target(), "hello world");
    ASSERT_EQ(m_server.Requests().size(), 1u);
    EXPECT_EQ(m_server.Requests()[0], "GET /files/setup.exe?v=2 HTTP/1.1\r\n"
                                      "Accept: */*\r\n"
                                      "User-Agent: Mozilla/4.0 (compatible; MSIE 7.0; Windows NT 10.0)\r\n"
                                      "Host: updates.marvolan.example\r\n"
                                      "Connection: Keep-Alive\r\n\r\n");
    EXPECT_EQ(m_callback.calls, (std::vector<std::string>{"GetBindInfo", "OnStartBinding", "GetPriority",
                                                          "OnProgress", "OnStopBinding"}));
    EXPECT_EQ(m_callback.Statuses(),
              (std::vector<ULONG>{BINDSTATUS_FINDINGRESOURCE, BINDSTATUS_CONNECTING, BINDSTATUS_SENDINGREQUEST,
                                  BINDSTATUS_BEGINDOWNLOADDATA, BINDSTATUS_DOWNLOADINGDATA,
                                  BINDSTATUS_ENDDOWNLOADDATA}));
    const auto& last = m_callback.progresses.back();
    EXPECT_EQ(last.progress, 11u);
    EXPECT_EQ(last.maximum, 11u);
    EXPECT_EQ(m_callback.stopResult, S_OK);
}

TEST_F(UrlDownload, ABodyOfUnknownLengthReportsNoMaximum)
{
    m_server.Answer({"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n"});
    EXPECT_EQ(URLDownloadToFileA(NULL, kUrl, kTarget, 0, &m_callback), S_OK);
    EXPECT_EQ(Target(), "abc");
    for (const auto& p : m_callback.progresses) EXPECT_EQ(p.maximum, 0u);
    EXPECT_EQ(m_callback.progresses.back().progress, 3u);
}

TEST_F(UrlDownload, ACancelStopsAtTheNextCallbackAndKeepsWhatWasWritten)
{
    // The second piece is never released: the download is cut mid-body.
    m_server.Answer({"HTTP/1.1 200 OK\r\nContent-Length: 8\r\n\r\nabcd", "efgh"}, true);
    m_callback.abortOnData = true;
    EXPECT_EQ(URLDownloadToFileA(NULL, kUrl, kTarget, 0, &m_callback), E_ABORT);
    EXPECT_EQ(Target(), "abcd");
    EXPECT_EQ(m_callback.stopResult, E_ABORT);
    EXPECT_EQ(m_callback.Statuses().back(), ULONG(BINDSTATUS_DOWNLOADINGDATA));
}

TEST_F(UrlDownload, TheBindingsAbortCancelsAsACallbackDoes)
{
    m_server.Answer({"HTTP/1.1 200 OK\r\nContent-Length: 8\r\n\r\nabcd", "efgh"}, true);
    m_callback.abortThroughBinding = true;
    EXPECT_EQ(URLDownloadToFileA(NULL, kUrl, kTarget, 0, &m_callback), E_ABORT);
    EXPECT_EQ(Target(), "abcd");
    ASSERT_NE(m_callback.binding, nullptr);
    // The caller's reference outlives the download.
    EXPECT_EQ(m_callback.binding->Abort(), S_FALSE);
    EXPECT_EQ(std::exchange(m_callback.binding, nullptr)->Release(), 0u);
}

TEST_F(UrlDownload, ACancelAtTheStartFetchesNothing)
{
    m_server.Answer({"HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nx"});
    m_callback.cancelFrom = "OnStartBinding";
    EXPECT_EQ(URLDownloadToFileA(NULL, kUrl, kTarget, 0, &m_callback), E_ABORT);
    EXPECT_TRUE(m_server.Requests().empty());
    EXPECT_EQ(Target(), std::nullopt);
    EXPECT_EQ(m_callback.stopResult, E_ABORT);
}

TEST_F(UrlDownload, RedirectsAreFollowed)
{
    m_server.Answer({"HTTP/1.1 302 Found\r\nLocation: http://updates.marvolan.example/mirror/setup.exe\r\n"
                     "Content-Length: 0\r\n\r\n"});
    m_server.Answer({"HTTP/1.1 307 Temporary Redirect\r\nLocation: /final/setup.exe\r\n\r\n"});
    m_server.Answer({"HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"});
    EXPECT_EQ(URLDownloadToFileA(NULL, kUrl, kTarget, 0, NULL), S_OK);
    EXPECT_EQ(Target(), "ok");
    ASSERT_EQ(m_server.Requests().size(), 3u);
    EXPECT_EQ(m_server.Requests()[1].rfind("GET /mirror/setup.exe HTTP/1.1\r\n", 0), 0u);
    EXPECT_EQ(m_server.Requests()[2].rfind("GET /final/setup.exe HTTP/1.1\r\n", 0), 0u);
}

struct FailureCase {
    const char* name;
    std::string answer;
    HRESULT result;
    std::optional<std::string> file;  // what the target holds afterwards
};

class UrlDownloadFailures : public UrlDownload, public testing::WithParamInterface<FailureCase> {};

TEST_P(UrlDownloadFailures, FailWithTheirHresultAndKeepWhatArrived)
{
    m_server.Answer({GetParam().answer});
    EXPECT_EQ(URLDownloadToFileA(NULL, kUrl, kTarget, 0, &m_callback), GetParam().result);
    EXPECT_EQ(Target(), GetParam().file);
    EXPECT_EQ(m_callback.stopResult, GetParam().result);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, UrlDownloadFailures,
    testing::Values(
        FailureCase{"NotFound", "HTTP/1.1 404 Not Found\r\nContent-Length: 4\r\n\r\ngone", INET_E_RESOURCE_NOT_FOUND,
                    std::nullopt},
        FailureCase{"ServerError", "HTTP/1.1 500 Oops\r\nContent-Length: 0\r\n\r\n", INET_E_DOWNLOAD_FAILURE,
                    std::nullopt},
        FailureCase{"CutShort", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabcd", INET_E_DOWNLOAD_FAILURE,
                    "abcd"},
        FailureCase{"Garbage", "\x16\x03\x01garbage\r\n\r\n", INET_E_DOWNLOAD_FAILURE, std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(UrlDownload, UnreachableAndUnusableUrlsFailBeforeAnyFile)
{
    uint16_t closedPort;
    {
        umtest::ScriptedHttpServer gone;
        closedPort = gone.Port();
    }
    const std::string refused = "http://127.0.0.1:" + std::to_string(closedPort) + "/setup.exe";
    EXPECT_EQ(URLDownloadToFileA(NULL, refused.c_str(), kTarget, 0, NULL), INET_E_CANNOT_CONNECT);
    EXPECT_EQ(URLDownloadToFileA(NULL, "http://nowhere.example/setup.exe", kTarget, 0, NULL),
              INET_E_RESOURCE_NOT_FOUND);
    EXPECT_EQ(URLDownloadToFileA(NULL, "ftp://updates.marvolan.example/setup.exe", kTarget, 0, NULL),
              INET_E_UNKNOWN_PROTOCOL);
    EXPECT_EQ(URLDownloadToFileA(NULL, "http://:80/setup.exe", kTarget, 0, NULL), INET_E_INVALID_URL);
    EXPECT_EQ(Target(), std::nullopt);
    // The folder itself as the target (a URL without a file name).
    m_server.Answer({"HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nx"});
    EXPECT_TRUE(FAILED(URLDownloadToFileA(NULL, kUrl, kFolder, 0, NULL)));
}

}  // namespace
