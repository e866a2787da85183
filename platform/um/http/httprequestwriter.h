// The bytes of an HTTP/1.1 request head, as the Windows clients write it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace umsim {

struct HttpRequestHead {
    std::string method = "GET";
    std::string target = "/";  // path and query, already escaped
    std::string version = "HTTP/1.1";
    std::vector<std::pair<std::string, std::string>> headers;  // in the order they are sent
};

std::string FormatRequestHead(const HttpRequestHead& head);

// The Host header's value: the name, with the port only when it is not
// the scheme's default (a numeric IPv6 address in brackets).
std::string HostHeaderValue(const std::string& host, uint16_t port, uint16_t defaultPort = 80);

// A request target safe on the request line: spaces, control characters
// and bytes outside ASCII become %XX; everything else is sent as given.
std::string EscapeRequestTarget(std::string_view target);

}  // namespace umsim
