#include "updateserver.h"

#include <chrono>

namespace updatetest {

UpdateServer::UpdateServer()
{
    // Kept before the answer goes out, so a request is on record by the
    // time its client has the answer.
    m_server.set_pre_routing_handler([this](const httplib::Request& request, httplib::Response&) {
        std::lock_guard lock(m_mutex);
        m_requests.push_back({request.method, request.target, request.get_header_value("Host"),
                              request.get_header_value("User-Agent")});
        return httplib::Server::HandlerResponse::Unhandled;
    });
    m_server.Get("/versioncheck/", [this](const httplib::Request&, httplib::Response& response) {
        std::lock_guard lock(m_mutex);
        response.set_content(m_answer, "text/plain");
    });
    m_server.Get(R"(/files/(.*))", [this](const httplib::Request& request, httplib::Response& response) {
        std::lock_guard lock(m_mutex);
        if (request.matches[1] != m_installerName) {
            response.status = 404;
            return;
        }
        const std::string bytes = m_installer;
        response.set_content_provider(
            bytes.size(), "application/octet-stream",
            [this, bytes](size_t offset, size_t, httplib::DataSink& sink) {
                const size_t half = bytes.size() / 2;
                if (offset < half) return sink.write(bytes.data(), half);
                std::unique_lock lock(m_mutex);
                if (m_hold) {
                    m_halfway = true;
                    m_changed.notify_all();
                    m_changed.wait(lock, [this] { return m_released; });
                }
                lock.unlock();
                return sink.write(bytes.data() + offset, bytes.size() - offset);
            });
    });
    m_port = m_server.bind_to_any_port("127.0.0.1");
    m_thread = std::thread([this] { m_server.listen_after_bind(); });
}

UpdateServer::~UpdateServer()
{
    Release();
    m_server.stop();
    m_thread.join();
}

void UpdateServer::SetAnswer(const std::string& body)
{
    std::lock_guard lock(m_mutex);
    m_answer = body;
}

void UpdateServer::SetInstaller(const std::string& name, const std::string& bytes)
{
    std::lock_guard lock(m_mutex);
    m_installerName = name;
    m_installer = bytes;
}

void UpdateServer::HoldHalfway()
{
    std::lock_guard lock(m_mutex);
    m_hold = true;
}

bool UpdateServer::WaitHalfway()
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::seconds(30), [this] { return m_halfway; });
}

void UpdateServer::Release()
{
    std::lock_guard lock(m_mutex);
    m_released = true;
    m_changed.notify_all();
}

std::vector<ReceivedRequest> UpdateServer::Requests() const
{
    std::lock_guard lock(m_mutex);
    return m_requests;
}

}  // namespace updatetest
