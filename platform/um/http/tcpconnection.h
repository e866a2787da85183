// One blocking TCP connection on a host socket, closed with the object.
#pragma once

#include "um/http/httpfailure.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace umsim {

class TcpConnection {
public:
    TcpConnection() = default;
    ~TcpConnection();
    TcpConnection(const TcpConnection&) = delete;
    TcpConnection& operator=(const TcpConnection&) = delete;

    // To a numeric address (IPv4 or IPv6) and host port.
    HttpFailure Connect(const std::string& address, uint16_t port);
    HttpFailure Send(std::string_view bytes);
    // Appends what arrives next (waiting for it); *closed when the peer
    // ended the connection instead.
    HttpFailure Receive(std::string& bytes, bool* closed);
    void Close();

    // WinHTTP's default send and receive time-outs.
    static constexpr int kTimeoutSeconds = 30;

private:
    int m_socket = -1;
};

}  // namespace umsim
