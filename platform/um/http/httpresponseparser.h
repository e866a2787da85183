// Reads an HTTP/1.x response from bytes as they arrive, in any split: the
// status line, the headers, and the body framed by chunked transfer coding,
// by Content-Length, or by the end of the connection. Pure (no sockets), so
// a fuzz target can drive it. Malformed input ends in Failed() with a reason;
// nothing read before is lost.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace umsim {

class HttpResponseParser {
public:
    // A response to HEAD has headers only, whatever they announce.
    explicit HttpResponseParser(bool responseToHead = false) : m_responseToHead(responseToHead) {}

    // More bytes from the connection. False once the response is malformed.
    bool Feed(std::string_view bytes);
    // The peer closed the connection: this completes a body that runs to the
    // close, and fails a response cut short.
    void FeedEnd();

    bool HeadComplete() const { return m_headComplete; }
    bool Complete() const { return m_state == State::Done; }
    bool Failed() const { return m_state == State::Failed; }
    // Failed because the bytes stopped (not because they were wrong).
    bool Truncated() const { return Failed() && m_truncated; }
    const std::string& Error() const { return m_error; }

    int StatusCode() const { return m_statusCode; }
    const std::string& Reason() const { return m_reason; }
    // The first header of the name (compared without case).
    std::optional<std::string_view> Header(std::string_view name) const;
    std::optional<uint64_t> ContentLength() const { return m_contentLength; }

    // Body bytes decoded and not yet taken.
    size_t Buffered() const { return m_body.size() - m_bodyTaken; }
    size_t TakeBody(void* out, size_t maxBytes);

    // Bounds that keep a hostile server from growing memory without end.
    static constexpr size_t kMaxLineBytes = 16 * 1024;
    static constexpr size_t kMaxHeaders = 256;

private:
    enum class State { StatusLine, Headers, LengthBody, ChunkSize, ChunkData, ChunkDataEnd, Trailers, BodyToClose, Done, Failed };

    void Fail(std::string reason, bool truncated = false);
    // The next line of m_input without its CR LF (or bare LF); nullopt when
    // it has not all arrived.
    std::optional<std::string> NextLine();
    bool ParseStatusLine(const std::string& line);
    bool ParseHeaderLine(const std::string& line);
    void StartBody();
    bool ParseChunkSize(const std::string& line);
    void Step();

    bool m_responseToHead;
    State m_state = State::StatusLine;
    std::string m_input;  // received bytes not yet parsed
    size_t m_inputUsed = 0;
    std::string m_error;
    bool m_truncated = false;

    bool m_headComplete = false;
    int m_statusCode = 0;
    std::string m_reason;
    std::vector<std::pair<std::string, std::string>> m_headers;
    std::optional<uint64_t> m_contentLength;
    uint64_t m_remaining = 0;  // of the Content-Length body or the current chunk

    std::string m_body;
    size_t m_bodyTaken = 0;
};

}  // namespace umsim
