#include "um/http/httpurl.h"

#include "um/textconversion.h"

#include <algorithm>

namespace umsim {
namespace {

std::optional<HttpUrl> Refuse(UrlProblem why, UrlProblem* problem)
{
    if (problem) *problem = why;
    return std::nullopt;
}

bool IsHostChar(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' || c == '.' ||
           c == '_';
}

}  // namespace

std::optional<HttpUrl> ParseHttpUrl(std::string_view url, UrlProblem* problem)
{
    if (problem) *problem = UrlProblem::None;
    constexpr std::string_view kScheme = "http://";
    if (url.size() < kScheme.size() || !EqualsNoCase(url.substr(0, kScheme.size()), kScheme))
        return Refuse(UrlProblem::NotHttp, problem);
    url.remove_prefix(kScheme.size());
    url = url.substr(0, url.find('#'));
    size_t authorityEnd = std::min(url.find('/'), url.find('?'));
    std::string_view authority = url.substr(0, authorityEnd);
    HttpUrl parts;
    size_t colon = authority.find(':');
    parts.host = std::string(authority.substr(0, colon));
    if (parts.host.empty() || !std::all_of(parts.host.begin(), parts.host.end(), IsHostChar))
        return Refuse(UrlProblem::Malformed, problem);
    if (colon != std::string_view::npos) {
        std::string_view digits = authority.substr(colon + 1);
        unsigned port = 0;
        if (digits.empty() || digits.size() > 5) return Refuse(UrlProblem::Malformed, problem);
        for (char c : digits) {
            if (c < '0' || c > '9') return Refuse(UrlProblem::Malformed, problem);
            port = port * 10 + unsigned(c - '0');
        }
        if (port == 0 || port > 65535) return Refuse(UrlProblem::Malformed, problem);
        parts.port = uint16_t(port);
        parts.portGiven = true;
    }
    if (authorityEnd != std::string_view::npos) {
        std::string_view rest = url.substr(authorityEnd);
        parts.target = rest.front() == '?' ? '/' + std::string(rest) : std::string(rest);
    }
    return parts;
}

}  // namespace umsim
