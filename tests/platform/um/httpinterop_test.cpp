// WinHTTP and URLDownloadToFileA against an ordinary HTTP server
// (cpp-httplib on loopback): what such a server makes of our requests, and
// its bodies, chunked and long, arriving whole.
#include <windows.h>
#include <urlmon.h>
#include <winhttp.h>

#include "um/network.h"
#include "um/umverifier.h"

#include <httplib.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace {

std::string Pattern(size_t size)
{
    std::string text(size, '\0');
    for (size_t i = 0; i < size; ++i) text[i] = char('a' + (i * 7) % 26);
    return text;
}

class HttpInterop : public testing::Test {
protected:
    void SetUp() override
    {
        m_server.Get("/versioncheck/", [this](const httplib::Request& request, httplib::Response& response) {
            m_seen = request;
            response.set_content("ReturnCode=0\nDownloadURL=http://localhost/setup.exe\n", "text/plain");
        });
        m_server.Get("/chunked", [](const httplib::Request&, httplib::Response& response) {
            response.set_chunked_content_provider("application/octet-stream", [](size_t offset, httplib::DataSink& sink) {
                if (offset >= kLongBody.size()) {
                    sink.done();
                } else {
                    sink.write(kLongBody.data() + offset, std::min<size_t>(1000, kLongBody.size() - offset));
                }
                return true;
            });
        });
        m_server.Get("/setup.exe", [](const httplib::Request&, httplib::Response& response) {
            response.set_content(kLongBody, "application/octet-stream");
        });
        m_port = uint16_t(m_server.bind_to_any_port("127.0.0.1"));
        ASSERT_GT(m_port, 0);
        // Bound means listening: connections wait in the backlog until the thread serves them.
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
        umsim::MapTcpPort(80, m_port);
    }
    void TearDown() override
    {
        m_server.stop();
        m_thread.join();
        umsim::ClearTcpPortMap();
        EXPECT_EQ(umsim::OpenHandleCount(), m_handles);
    }

    // GET of the path from localhost on the Windows port 80; the body.
    std::string Get(const char16_t* path)
    {
        HINTERNET session = WinHttpOpen(u"AppVerCheck/0.0", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                        WINHTTP_NO_PROXY_BYPASS, 0);
        HINTERNET connection = WinHttpConnect(session, u"localhost", INTERNET_DEFAULT_PORT, 0);
        HINTERNET request = WinHttpOpenRequest(connection, u"GET", path, NULL, WINHTTP_NO_REFERER,
                                               WINHTTP_DEFAULT_ACCEPT_TYPES, 0);
        std::string body;
        EXPECT_TRUE(WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0));
        EXPECT_TRUE(WinHttpReceiveResponse(request, NULL));
        DWORD available = 0, read = 0;
        char buffer[4096];
        while (WinHttpQueryDataAvailable(request, &available) && available &&
               WinHttpReadData(request, buffer, std::min<DWORD>(available, sizeof buffer), &read))
            body.append(buffer, read);
        EXPECT_EQ(available, 0u) << GetLastError();
        WinHttpCloseHandle(request);
        WinHttpCloseHandle(connection);
        WinHttpCloseHandle(session);
        return body;
    }

    static inline const std::string kLongBody = Pattern(300 * 1000);
    httplib::Server m_server;
    std::thread m_thread;
    uint16_t m_port = 0;
    httplib::Request m_seen;  // written by the server's thread before it answers
    size_t m_handles = umsim::OpenHandleCount();
};

TEST_F(HttpInterop, AServerReadsTheVersionQuery)
{
    EXPECT_EQ(Get(u"/versioncheck/?OSType=Windows&Brand=B&ProductId=7&Version=1.0"),
              "ReturnCode=0\nDownloadURL=http://localhost/setup.exe\n");
    EXPECT_EQ(m_seen.get_param_value("Brand"), "B");
    EXPECT_EQ(m_seen.get_param_value("ProductId"), "7");
    EXPECT_EQ(m_seen.get_param_value("Version"), "1.0");
    EXPECT_EQ(m_seen.get_header_value("User-Agent"), "AppVerCheck/0.0");
    EXPECT_EQ(m_seen.get_header_value("Host"), "localhost");
    EXPECT_EQ(m_seen.version, "HTTP/1.1");
}

TEST_F(HttpInterop, AChunkedBodyArrivesWhole)
{
    EXPECT_EQ(Get(u"/chunked"), kLongBody);
}

TEST_F(HttpInterop, ALongDownloadFillsTheFile)
{
    auto target = std::filesystem::path(testing::TempDir()) / "httpinterop_setup.exe";
    EXPECT_EQ(URLDownloadToFileA(NULL, "http://localhost/setup.exe", target.c_str(), 0, NULL), S_OK);
    std::ifstream in(target, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    EXPECT_TRUE(bytes.str() == kLongBody) << bytes.str().size() << " bytes";
    EXPECT_EQ(URLDownloadToFileA(NULL, "http://localhost/missing.exe", target.c_str(), 0, NULL),
              INET_E_RESOURCE_NOT_FOUND);
    std::filesystem::remove(target);
}

}  // namespace
