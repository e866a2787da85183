// WinHTTP against a scripted loopback server: the request bytes a server
// receives, bodies in every framing read in small pieces, the errors of
// broken answers and unreachable servers, names from the hosts file, and
// handles checked as Windows checks them.
#include <windows.h>
#include <winhttp.h>

#include "scriptedhttpserver.h"
#include "um/network.h"
#include "um/umverifier.h"
#include "um/windowsroot.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>

namespace {

std::u16string Wide(const std::string& text) { return std::u16string(text.begin(), text.end()); }

// A session, a connection and a GET request on it, closed in any case.
struct Get {
    Get(const std::string& host, INTERNET_PORT port, const std::string& path, const char16_t* agent = u"AppVerCheck/0.0")
    {
        session = WinHttpOpen(agent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
        connection = WinHttpConnect(session, Wide(host).c_str(), port, 0);
        request = WinHttpOpenRequest(connection, u"GET", Wide(path).c_str(), NULL, WINHTTP_NO_REFERER,
                                     WINHTTP_DEFAULT_ACCEPT_TYPES, 0);
    }
    ~Get()
    {
        for (HINTERNET handle : {request, connection, session})
            if (handle) WinHttpCloseHandle(handle);
    }
    bool Send() { return WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0); }
    bool SendAndReceive() { return Send() && WinHttpReceiveResponse(request, NULL); }
    // The body as the product reads it: ask what is there, read it, in
    // pieces of at most `piece` bytes. The error that ended it (0 at the end).
    DWORD ReadBody(std::string& body, DWORD piece = 3)
    {
        for (;;) {
            DWORD available = 0, read = 0;
            if (!WinHttpQueryDataAvailable(request, &available)) return GetLastError();
            if (available == 0) return 0;
            char buffer[64];
            if (!WinHttpReadData(request, buffer, std::min<DWORD>({available, piece, DWORD(sizeof buffer)}), &read))
                return GetLastError();
            body.append(buffer, read);
        }
    }

    HINTERNET session = NULL, connection = NULL, request = NULL;
};

class WinHttp : public testing::Test {
protected:
    void TearDown() override
    {
        umsim::ClearTcpPortMap();
        EXPECT_EQ(umsim::OpenHandleCount(), m_handles) << "a WinHTTP handle was left open";
    }
    size_t m_handles = umsim::OpenHandleCount();
    umtest::ScriptedHttpServer m_server;
};

constexpr char kAnswer[] = "HTTP/1.1 200 OK\r\nContent-Length: 12\r\n\r\nReturnCode=0";

TEST_F(WinHttp, TheServerReceivesTheRequestWinHttpWrites)
{
    m_server.Answer({kAnswer});
    Get get("127.0.0.1", m_server.Port(), "/versioncheck/?OSType=Windows&Brand=B C");
    ASSERT_TRUE(get.SendAndReceive()) << GetLastError();
    std::string body;
    EXPECT_EQ(get.ReadBody(body), 0u);
    EXPECT_EQ(body, "ReturnCode=0");
    ASSERT_EQ(m_server.Requests().size(), 1u);
    EXPECT_EQ(m_server.Requests()[0], "GET /versioncheck/?OSType=Windows&Brand=B%20C HTTP/1.1\r\n"
                                      "Connection: Keep-Alive\r\n"
                                      "User-Agent: AppVerCheck/0.0\r\n"
                                      "Host: 127.0.0.1:" +
                                          std::to_string(m_server.Port()) + "\r\n\r\n");
}

TEST_F(WinHttp, TheDefaultPortReachesAMappedServerByItsHostsFileName)
{
    auto directory = std::filesystem::path(testing::TempDir()) / "winhttp_test_root";
    std::filesystem::remove_all(directory);
    umsim::WindowsRoot root(directory.string());
    ASSERT_TRUE(root.Opened());
    ASSERT_TRUE(umsim::AddHostsEntry("127.0.0.1", "updates.marvolan.example"));
    umsim::MapTcpPort(80, m_server.Port());
    m_server.Answer({kAnswer});
    {
        Get get("Updates.Marvolan.Example", INTERNET_DEFAULT_PORT, "/versioncheck/");
        ASSERT_TRUE(get.SendAndReceive()) << GetLastError();
    }
    ASSERT_EQ(m_server.Requests().size(), 1u);
    EXPECT_NE(m_server.Requests()[0].find("\r\nHost: Updates.Marvolan.Example\r\n"), std::string::npos)
        << m_server.Requests()[0];
    std::filesystem::remove_all(directory);
}

struct BodyCase {
    const char* name;
    std::vector<std::string> pieces;
    std::string body;
};

class WinHttpBodies : public WinHttp, public testing::WithParamInterface<BodyCase> {};

TEST_P(WinHttpBodies, ArriveWholeWhateverTheFramingAndSplit)
{
    m_server.Answer(GetParam().pieces);
    Get get("127.0.0.1", m_server.Port(), "/");
    ASSERT_TRUE(get.SendAndReceive()) << GetLastError();
    DWORD status = 0, size = sizeof status;
    ASSERT_TRUE(WinHttpQueryHeaders(get.request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                    WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX));
    EXPECT_EQ(status, 200u);
    std::string body;
    EXPECT_EQ(get.ReadBody(body), 0u);
    EXPECT_EQ(body, GetParam().body);
}

INSTANTIATE_TEST_SUITE_P(
    Framings, WinHttpBodies,
    testing::Values(
        BodyCase{"ContentLength", {"HTTP/1.1 200 OK\r\nContent-Length: 11\r\n\r\nhello world"}, "hello world"},
        BodyCase{"ContentLengthSplit", {"HTTP/1.1 200 OK\r\nConte", "nt-Length: 11\r", "\n\r\nhel", "lo world"},
                 "hello world"},
        BodyCase{"Chunked",
                 {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5;name=value\r\nhello\r\n6\r\n world\r\n"
                  "0\r\nX-Trailer: yes\r\n\r\n"},
                 "hello world"},
        BodyCase{"ChunkedSplitInsideSizes", {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n", "B", "\r\nhello",
                                             " world\r", "\n0\r\n\r\n"},
                 "hello world"},
        BodyCase{"ToTheClose", {"HTTP/1.1 200 OK\r\nConnection: close\r\n\r\nhello", " world"}, "hello world"},
        BodyCase{"AfterAnInterimAnswer", {"HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"},
                 "ok"},
        BodyCase{"Empty", {"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"}, ""}),
    [](const auto& info) { return std::string(info.param.name); });

struct BrokenCase {
    const char* name;
    std::string answer;
    bool headFails;     // WinHttpReceiveResponse fails, else the body read does
    std::string bodyBefore;  // what is read before the failure
    DWORD error;
};

class WinHttpBrokenAnswers : public WinHttp, public testing::WithParamInterface<BrokenCase> {};

TEST_P(WinHttpBrokenAnswers, FailWithTheWinHttpErrorAfterWhatCameWhole)
{
    m_server.Answer({GetParam().answer});
    Get get("127.0.0.1", m_server.Port(), "/");
    ASSERT_TRUE(get.Send());
    if (GetParam().headFails) {
        EXPECT_FALSE(WinHttpReceiveResponse(get.request, NULL));
        EXPECT_EQ(GetLastError(), GetParam().error);
        return;
    }
    ASSERT_TRUE(WinHttpReceiveResponse(get.request, NULL)) << GetLastError();
    std::string body;
    EXPECT_EQ(get.ReadBody(body), GetParam().error);
    EXPECT_EQ(body, GetParam().bodyBefore);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, WinHttpBrokenAnswers,
    testing::Values(
        BrokenCase{"NotHttp", "SSH-2.0-OpenSSH\r\n\r\n", true, "", ERROR_WINHTTP_INVALID_SERVER_RESPONSE},
        BrokenCase{"ClosedBeforeTheHeadEnds", "HTTP/1.1 200 OK\r\nContent-", true, "",
                   ERROR_WINHTTP_INVALID_SERVER_RESPONSE},
        BrokenCase{"NothingAtAll", "", true, "", ERROR_WINHTTP_INVALID_SERVER_RESPONSE},
        BrokenCase{"ConflictingLengths", "HTTP/1.1 200 OK\r\nContent-Length: 3\r\nContent-Length: 4\r\n\r\nabcd",
                   true, "", ERROR_WINHTTP_INVALID_SERVER_RESPONSE},
        BrokenCase{"ClosedInsideTheLength", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabcd", false, "abcd",
                   ERROR_WINHTTP_CONNECTION_ERROR},
        BrokenCase{"ClosedInsideAChunk", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n8\r\nabcd", false,
                   "abcd", ERROR_WINHTTP_CONNECTION_ERROR},
        BrokenCase{"BadChunkSize", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nab\r\nzz\r\n", false,
                   "ab", ERROR_WINHTTP_INVALID_SERVER_RESPONSE},
        BrokenCase{"ChunkLongerThanItsSize", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nabc\r\n",
                   false, "ab", ERROR_WINHTTP_INVALID_SERVER_RESPONSE}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(WinHttp, QueryDataAvailableWaitsForTheNextPieceAndReadsReturnWhatIsThere)
{
    m_server.Answer({"HTTP/1.1 200 OK\r\nContent-Length: 7\r\n\r\nabc", "defg"}, true);
    Get get("127.0.0.1", m_server.Port(), "/");
    ASSERT_TRUE(get.SendAndReceive());
    m_server.WaitForPiecesSent(1);
    DWORD available = 0, read = 0;
    char buffer[16];
    ASSERT_TRUE(WinHttpQueryDataAvailable(get.request, &available));
    EXPECT_EQ(available, 3u);
    ASSERT_TRUE(WinHttpReadData(get.request, buffer, sizeof buffer, &read));
    EXPECT_EQ(std::string(buffer, read), "abc");
    m_server.ReleasePiece();
    ASSERT_TRUE(WinHttpQueryDataAvailable(get.request, &available));
    EXPECT_EQ(available, 4u);
    ASSERT_TRUE(WinHttpReadData(get.request, buffer, sizeof buffer, &read));
    EXPECT_EQ(std::string(buffer, read), "defg");
    ASSERT_TRUE(WinHttpQueryDataAvailable(get.request, &available));
    EXPECT_EQ(available, 0u);
}

TEST_F(WinHttp, AnErrorStatusStillHasItsBodyAndText)
{
    m_server.Answer({"HTTP/1.1 404 Not Found\r\nContent-Length: 4\r\n\r\ngone"});
    Get get("127.0.0.1", m_server.Port(), "/");
    ASSERT_TRUE(get.SendAndReceive());
    WCHAR text[4];
    DWORD size = sizeof text;
    EXPECT_FALSE(WinHttpQueryHeaders(get.request, WINHTTP_QUERY_STATUS_TEXT, NULL, text, &size, NULL));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(size, 20u);  // "Not Found" and its terminator
    WCHAR code[8];
    size = sizeof code;
    ASSERT_TRUE(WinHttpQueryHeaders(get.request, WINHTTP_QUERY_STATUS_CODE, NULL, code, &size, NULL));
    EXPECT_EQ(std::u16string(code), u"404");
    EXPECT_EQ(size, 6u);
    std::string body;
    EXPECT_EQ(get.ReadBody(body), 0u);
    EXPECT_EQ(body, "gone");
}

TEST_F(WinHttp, UnreachableServersFailTheSend)
{
    uint16_t closedPort;
    {
        umtest::ScriptedHttpServer gone;
        closedPort = gone.Port();
    }
    Get refused("127.0.0.1", closedPort, "/");
    EXPECT_FALSE(refused.Send());
    EXPECT_EQ(GetLastError(), DWORD(ERROR_WINHTTP_CANNOT_CONNECT));

    // No hosts file names it, and the host's resolver is never asked.
    Get unknown("updates.marvolan.example", INTERNET_DEFAULT_PORT, "/");
    ASSERT_NE(unknown.request, nullptr);
    EXPECT_FALSE(unknown.Send());
    EXPECT_EQ(GetLastError(), DWORD(ERROR_WINHTTP_NAME_NOT_RESOLVED));
    EXPECT_FALSE(WinHttpReceiveResponse(unknown.request, NULL));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_WINHTTP_INCORRECT_HANDLE_STATE));
}

TEST_F(WinHttp, ParentsMayCloseBeforeTheirRequest)
{
    m_server.Answer({kAnswer});
    Get get("127.0.0.1", m_server.Port(), "/");
    EXPECT_TRUE(WinHttpCloseHandle(get.session));
    EXPECT_TRUE(WinHttpCloseHandle(get.connection));
    get.session = get.connection = NULL;
    ASSERT_TRUE(get.SendAndReceive());
    std::string body;
    EXPECT_EQ(get.ReadBody(body), 0u);
    EXPECT_EQ(body, "ReturnCode=0");
}

TEST_F(WinHttp, HandleMisuseIsAVerifierFinding)
{
    Get get("127.0.0.1", m_server.Port(), "/");
    HANDLE event = CreateEventA(NULL, FALSE, FALSE, NULL);
    umsim::ViolationCapture capture;

    // A handle of another WinHTTP kind.
    EXPECT_FALSE(WinHttpSendRequest(get.session, NULL, 0, NULL, 0, 0, 0));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_WINHTTP_INCORRECT_HANDLE_TYPE));
    EXPECT_TRUE(capture.Saw("handle", "not a WinHTTP request"));
    // Handles of the other family, each way.
    EXPECT_FALSE(WinHttpCloseHandle(event));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(CloseHandle(get.connection));
    EXPECT_EQ(capture.Count("handle"), 3u);
    // Closed twice, and used after closing.
    EXPECT_TRUE(WinHttpCloseHandle(get.request));
    EXPECT_FALSE(WinHttpCloseHandle(get.request));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(WinHttpReceiveResponse(get.request, NULL));
    EXPECT_EQ(capture.Count("handle"), 5u);
    EXPECT_TRUE(capture.Saw("handle", "already closed"));
    get.request = NULL;
    CloseHandle(event);
}

}  // namespace
