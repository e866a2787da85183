#include "um/http/tcpconnection.h"

#include <netdb.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

namespace umsim {

TcpConnection::~TcpConnection() { Close(); }

void TcpConnection::Close()
{
    if (m_socket >= 0) close(m_socket);
    m_socket = -1;
}

HttpFailure TcpConnection::Connect(const std::string& address, uint16_t port)
{
    Close();
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (getaddrinfo(address.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || !found)
        return HttpFailure::NameNotResolved;
    std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> owner(found, freeaddrinfo);
    m_socket = socket(found->ai_family, found->ai_socktype | SOCK_CLOEXEC, found->ai_protocol);
    if (m_socket < 0) return HttpFailure::CannotConnect;
    if (connect(m_socket, found->ai_addr, found->ai_addrlen) != 0) {
        Close();
        return HttpFailure::CannotConnect;
    }
    timeval timeout{kTimeoutSeconds, 0};
    setsockopt(m_socket, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    setsockopt(m_socket, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    return HttpFailure::None;
}

HttpFailure TcpConnection::Send(std::string_view bytes)
{
    while (!bytes.empty()) {
        // MSG_NOSIGNAL: a peer gone away is an error here, not SIGPIPE.
        ssize_t sent = send(m_socket, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return HttpFailure::Timeout;
        if (sent <= 0) return HttpFailure::ConnectionError;
        bytes.remove_prefix(size_t(sent));
    }
    return HttpFailure::None;
}

HttpFailure TcpConnection::Receive(std::string& bytes, bool* closed)
{
    char buffer[16 * 1024];
    *closed = false;
    for (;;) {
        ssize_t count = recv(m_socket, buffer, sizeof buffer, 0);
        if (count < 0 && errno == EINTR) continue;
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return HttpFailure::Timeout;
        if (count < 0) return HttpFailure::ConnectionError;
        if (count == 0) *closed = true;
        bytes.append(buffer, size_t(count));
        return HttpFailure::None;
    }
}

}  // namespace umsim
