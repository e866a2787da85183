// An http:// URL taken apart: host, port and the request target.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace umsim {

struct HttpUrl {
    std::string host;
    uint16_t port = 80;
    bool portGiven = false;
    std::string target = "/";  // path and query, without any #fragment
};

enum class UrlProblem { None, NotHttp, Malformed };

// http://host[:port][/path][?query][#fragment]; the scheme without case.
// User information and IPv6 literals are not taken.
std::optional<HttpUrl> ParseHttpUrl(std::string_view url, UrlProblem* problem = nullptr);

}  // namespace umsim
