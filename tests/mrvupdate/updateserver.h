// A loopback update server for the checker's tests: real HTTP on an
// ephemeral port, reached by the checker under the update server's name
// through the virtual Windows' hosts file and port map. It answers the
// version check with a body the test sets, and serves an installer whose
// delivery the test can hold halfway.
#pragma once

#include <httplib.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace updatetest {

struct ReceivedRequest {
    std::string method;
    std::string target;  // path with its query, as sent
    std::string host;
    std::string userAgent;
};

class UpdateServer {
public:
    UpdateServer();
    ~UpdateServer();
    UpdateServer(const UpdateServer&) = delete;
    UpdateServer& operator=(const UpdateServer&) = delete;

    int Port() const { return m_port; }
    // The answer to the version check.
    void SetAnswer(const std::string& body);
    // The installer under /files/<name>.
    void SetInstaller(const std::string& name, const std::string& bytes);
    // The installer's delivery stops after its first half until Release().
    void HoldHalfway();
    // Waits until a held delivery reached its halfway point.
    bool WaitHalfway();
    void Release();

    std::vector<ReceivedRequest> Requests() const;

private:
    httplib::Server m_server;
    std::thread m_thread;
    int m_port = 0;

    mutable std::mutex m_mutex;  // guards everything below
    std::condition_variable m_changed;
    std::string m_answer;
    std::string m_installerName;
    std::string m_installer;
    bool m_hold = false;
    bool m_halfway = false;
    bool m_released = false;
    std::vector<ReceivedRequest> m_requests;
};

}  // namespace updatetest
