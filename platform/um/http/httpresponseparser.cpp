#include "um/http/httpresponseparser.h"

#include "um/http/httpsyntax.h"
#include "um/textconversion.h"

#include <algorithm>
#include <cstring>

namespace umsim {
namespace {

std::string_view TrimSpace(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A decimal Content-Length; nullopt for anything else (signs, spaces
// inside, more than fits).
std::optional<uint64_t> ParseDecimal(std::string_view text)
{
    if (text.empty() || text.size() > 18) return std::nullopt;
    uint64_t value = 0;
    for (char c : text) {
        if (!IsDigit(c)) return std::nullopt;
        value = value * 10 + uint64_t(c - '0');
    }
    return value;
}

int HexValue(char c)
{
    if (IsDigit(c)) return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::optional<std::string_view> HttpResponseParser::Header(std::string_view name) const
{
    for (const auto& [key, value] : m_headers)
        if (EqualsNoCase(key, name)) return std::string_view(value);
    return std::nullopt;
}

size_t HttpResponseParser::TakeBody(void* out, size_t maxBytes)
{
    size_t count = std::min(maxBytes, Buffered());
    if (count) std::memcpy(out, m_body.data() + m_bodyTaken, count);
    m_bodyTaken += count;
    if (m_bodyTaken == m_body.size()) {
        m_body.clear();
        m_bodyTaken = 0;
    }
    return count;
}

bool HttpResponseParser::Feed(std::string_view bytes)
{
    if (m_state == State::Failed) return false;
    // Bytes after a complete response belong to no request of ours.
    if (m_state == State::Done) return true;
    m_input.append(bytes);
    Step();
    m_input.erase(0, m_inputUsed);
    m_inputUsed = 0;
    return !Failed();
}

void HttpResponseParser::FeedEnd()
{
    if (m_state == State::BodyToClose)
        m_state = State::Done;
    else if (m_state != State::Done && m_state != State::Failed)
        Fail(HeadComplete() ? "the connection closed inside the body" : "the connection closed before the headers ended",
             true);
}

void HttpResponseParser::Fail(std::string reason, bool truncated)
{
    m_state = State::Failed;
    m_error = std::move(reason);
    m_truncated = truncated;
}

std::optional<std::string> HttpResponseParser::NextLine()
{
    size_t end = m_input.find('\n', m_inputUsed);
    size_t length = (end == std::string::npos ? m_input.size() : end) - m_inputUsed;
    if (length > kMaxLineBytes) {
        Fail("a line of the response is too long");
        return std::nullopt;
    }
    if (end == std::string::npos) return std::nullopt;
    std::string line = m_input.substr(m_inputUsed, length);
    m_inputUsed = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.find_first_of(std::string_view("\r\0", 2)) != std::string::npos) {
        Fail("a line of the response holds a bare CR or a NUL");
        return std::nullopt;
    }
    return line;
}

bool HttpResponseParser::ParseStatusLine(const std::string& line)
{
    // HTTP/d.d SP ddd [SP reason]
    if (line.size() < 12 || line.compare(0, 5, "HTTP/") != 0 || !IsDigit(line[5]) || line[6] != '.' ||
        !IsDigit(line[7]) || line[8] != ' ' || !IsDigit(line[9]) || !IsDigit(line[10]) || !IsDigit(line[11]) ||
        (line.size() > 12 && line[12] != ' ')) {
        Fail("not an HTTP status line");
        return false;
    }
    m_statusCode = (line[9] - '0') * 100 + (line[10] - '0') * 10 + (line[11] - '0');
    m_reason = line.size() > 13 ? line.substr(13) : std::string();
    return true;
}

bool HttpResponseParser::ParseHeaderLine(const std::string& line)
{
    if (line.front() == ' ' || line.front() == '\t') {  // an old-style folded continuation
        if (m_headers.empty()) {
            Fail("a continuation line before any header");
            return false;
        }
        m_headers.back().second += ' ';
        m_headers.back().second += TrimSpace(line);
        return true;
    }
    size_t colon = line.find(':');
    if (colon == std::string::npos || !IsHttpToken(std::string_view(line).substr(0, colon))) {
        Fail("a malformed header line");
        return false;
    }
    if (m_headers.size() == kMaxHeaders) {
        Fail("too many headers");
        return false;
    }
    m_headers.emplace_back(line.substr(0, colon), TrimSpace(std::string_view(line).substr(colon + 1)));
    return true;
}

void HttpResponseParser::StartBody()
{
    // Content-Length, possibly repeated or listed: every value must agree.
    for (const auto& [key, value] : m_headers) {
        if (!EqualsNoCase(key, "Content-Length")) continue;
        std::string_view rest = value;
        do {
            size_t comma = rest.find(',');
            auto length = ParseDecimal(TrimSpace(rest.substr(0, comma)));
            if (!length || (m_contentLength && *m_contentLength != *length)) {
                Fail("an invalid Content-Length");
                return;
            }
            m_contentLength = length;
            rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
        } while (!rest.empty());
    }
    m_headComplete = true;
    if (m_responseToHead || m_statusCode == 204 || m_statusCode == 304 || m_statusCode / 100 == 1) {
        m_state = State::Done;
        return;
    }
    if (auto coding = Header("Transfer-Encoding")) {
        // The last coding frames the body; Content-Length does not count then.
        m_contentLength.reset();
        size_t comma = coding->rfind(',');
        std::string_view last = TrimSpace(comma == std::string_view::npos ? *coding : coding->substr(comma + 1));
        m_state = EqualsNoCase(last, "chunked") ? State::ChunkSize : State::BodyToClose;
        return;
    }
    if (m_contentLength) {
        m_remaining = *m_contentLength;
        m_state = m_remaining ? State::LengthBody : State::Done;
        return;
    }
    m_state = State::BodyToClose;
}

bool HttpResponseParser::ParseChunkSize(const std::string& line)
{
    // hex-size [whitespace] [; extensions]
    uint64_t size = 0;
    size_t digits = 0;
    while (digits < line.size() && HexValue(line[digits]) >= 0) {
        if (digits == 15) {
            Fail("a chunk size too large");
            return false;
        }
        size = size * 16 + uint64_t(HexValue(line[digits]));
        ++digits;
    }
    std::string_view rest = TrimSpace(std::string_view(line).substr(digits));
    if (digits == 0 || (!rest.empty() && rest.front() != ';')) {
        Fail("a malformed chunk size line");
        return false;
    }
    m_remaining = size;
    m_state = size ? State::ChunkData : State::Trailers;
    return true;
}

void HttpResponseParser::Step()
{
    for (;;) {
        switch (m_state) {
        case State::StatusLine: {
            auto line = NextLine();
            if (!line || !ParseStatusLine(*line)) return;
            m_state = State::Headers;
            break;
        }
        case State::Headers: {
            auto line = NextLine();
            if (!line) return;
            if (!line->empty()) {
                if (!ParseHeaderLine(*line)) return;
                break;
            }
            if (m_statusCode / 100 == 1 && m_statusCode != 101) {  // an interim answer: the real one follows
                m_headers.clear();
                m_state = State::StatusLine;
                break;
            }
            StartBody();
            break;
        }
        case State::LengthBody:
        case State::ChunkData: {
            size_t count = size_t(std::min<uint64_t>(m_remaining, m_input.size() - m_inputUsed));
            m_body.append(m_input, m_inputUsed, count);
            m_inputUsed += count;
            m_remaining -= count;
            if (m_remaining) return;
            m_state = m_state == State::LengthBody ? State::Done : State::ChunkDataEnd;
            break;
        }
        case State::ChunkSize: {
            auto line = NextLine();
            if (!line || !ParseChunkSize(*line)) return;
            break;
        }
        case State::ChunkDataEnd: {
            auto line = NextLine();
            if (!line) return;
            if (!line->empty()) return Fail("chunk data longer than its size");
            m_state = State::ChunkSize;
            break;
        }
        case State::Trailers: {
            auto line = NextLine();
            if (!line) return;
            if (line->empty()) m_state = State::Done;
            break;
        }
        case State::BodyToClose:
            m_body.append(m_input, m_inputUsed);
            m_inputUsed = m_input.size();
            return;
        case State::Done:
        case State::Failed:
            return;
        }
    }
}

}  // namespace umsim
