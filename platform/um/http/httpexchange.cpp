#include "um/http/httpexchange.h"

#include "um/http/hostresolver.h"
#include "um/http/tcpportmap.h"

namespace umsim {

HttpFailure HttpExchange::Send(const std::string& host, uint16_t port, std::string_view request, bool headRequest)
{
    m_parser = HttpResponseParser(headRequest);
    auto address = ResolveHostName(host);
    if (!address) return HttpFailure::NameNotResolved;
    if (HttpFailure failure = m_connection.Connect(*address, HostTcpPort(port)); failure != HttpFailure::None)
        return failure;
    return m_connection.Send(request);
}

HttpFailure HttpExchange::Pump()
{
    if (m_parser.Failed()) return ParserFailure();
    std::string bytes;
    bool closed = false;
    if (HttpFailure failure = m_connection.Receive(bytes, &closed); failure != HttpFailure::None) return failure;
    if (closed) {
        m_connection.Close();
        m_parser.FeedEnd();
    } else {
        m_parser.Feed(bytes);
    }
    return m_parser.Failed() ? ParserFailure() : HttpFailure::None;
}

HttpFailure HttpExchange::ParserFailure() const
{
    // A response cut off inside its body is a broken connection; anything
    // else wrong with the bytes is an invalid response.
    return m_parser.Truncated() && m_parser.HeadComplete() ? HttpFailure::ConnectionError
                                                           : HttpFailure::InvalidResponse;
}

HttpFailure HttpExchange::ReceiveHead()
{
    // A fault further on in the same bytes belongs to the body: it is
    // reported when the reader gets there, after what came before it.
    while (!m_parser.HeadComplete())
        if (HttpFailure failure = Pump(); failure != HttpFailure::None && !m_parser.HeadComplete()) return failure;
    return HttpFailure::None;
}

HttpFailure HttpExchange::WaitForBody(size_t* available)
{
    while (m_parser.Buffered() == 0 && !m_parser.Complete())
        if (HttpFailure failure = Pump(); failure != HttpFailure::None) return failure;
    *available = m_parser.Buffered();
    return HttpFailure::None;
}

}  // namespace umsim

