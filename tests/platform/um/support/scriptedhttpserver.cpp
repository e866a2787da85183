#include "scriptedhttpserver.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace umtest {

ScriptedHttpServer::ScriptedHttpServer()
{
    m_listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && listen(m_listener, 8) == 0 &&
        getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { Serve(); });
}

ScriptedHttpServer::~ScriptedHttpServer()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    shutdown(m_listener, SHUT_RDWR);  // wakes the accept
    m_thread.join();
    close(m_listener);
}

void ScriptedHttpServer::Answer(std::vector<std::string> pieces, bool paced)
{
    std::lock_guard lock(m_mutex);
    m_answers.push_back({std::move(pieces), paced});
}

void ScriptedHttpServer::ReleasePiece()
{
    {
        std::lock_guard lock(m_mutex);
        ++m_released;
    }
    m_changed.notify_all();
}

std::vector<std::string> ScriptedHttpServer::Requests()
{
    std::lock_guard lock(m_mutex);
    return m_requests;
}

void ScriptedHttpServer::WaitForPiecesSent(size_t count)
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return m_sent >= count || m_stopping; });
}

void ScriptedHttpServer::Serve()
{
    for (;;) {
        int connection = accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) return;
        AnswerConnection(connection);
        close(connection);
    }
}

void ScriptedHttpServer::AnswerConnection(int connection)
{
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos) {
        ssize_t count = recv(connection, buffer, sizeof buffer, 0);
        if (count <= 0) return;
        request.append(buffer, size_t(count));
    }
    std::unique_lock lock(m_mutex);
    m_requests.push_back(request.substr(0, request.find("\r\n\r\n") + 4));
    if (m_answers.empty()) return;
    Script script = m_answers.front();
    if (m_answers.size() > 1) m_answers.pop_front();
    const std::vector<std::string>& pieces = script.pieces;
    for (size_t i = 0; i < pieces.size(); ++i) {
        if (script.paced && i > 0) {
            m_changed.wait(lock, [&] { return m_released > 0 || m_stopping; });
            if (m_stopping) return;
            --m_released;
        }
        lock.unlock();
        bool sent = send(connection, pieces[i].data(), pieces[i].size(), MSG_NOSIGNAL) == ssize_t(pieces[i].size());
        lock.lock();
        ++m_sent;
        m_changed.notify_all();
        if (!sent) return;
    }
}

}  // namespace umtest
