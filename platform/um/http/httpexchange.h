// One request and its response over a connection of its own: the HTTP
// client WinHTTP and the URL download share. Not thread-safe: its owner
// makes one call at a time.
#pragma once

#include "um/http/httpfailure.h"
#include "um/http/httpresponseparser.h"
#include "um/http/tcpconnection.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace umsim {

class HttpExchange {
public:
    // Resolves the host, connects to the port (as the test port map sends
    // it) and sends the request bytes.
    HttpFailure Send(const std::string& host, uint16_t port, std::string_view request, bool headRequest = false);
    // Reads until the status line and the headers are in.
    HttpFailure ReceiveHead();
    const HttpResponseParser& Response() const { return m_parser; }
    // Waits until body bytes are buffered or the body has ended, and gives
    // their count (0 at the end).
    HttpFailure WaitForBody(size_t* available);
    size_t ReadBody(void* out, size_t maxBytes) { return m_parser.TakeBody(out, maxBytes); }

private:
    // One more piece from the connection into the parser.
    HttpFailure Pump();
    HttpFailure ParserFailure() const;

    TcpConnection m_connection;
    HttpResponseParser m_parser;
};

}  // namespace umsim
