#include "um/http/httprequestwriter.h"

#include <cstdio>

namespace umsim {

std::string FormatRequestHead(const HttpRequestHead& head)
{
    std::string text = head.method + ' ' + head.target + ' ' + head.version + "\r\n";
    for (const auto& [name, value] : head.headers) text += name + ": " + value + "\r\n";
    return text + "\r\n";
}

std::string HostHeaderValue(const std::string& host, uint16_t port, uint16_t defaultPort)
{
    std::string value = host.find(':') != std::string::npos ? '[' + host + ']' : host;
    if (port != defaultPort) value += ':' + std::to_string(port);
    return value;
}

std::string EscapeRequestTarget(std::string_view target)
{
    std::string escaped;
    for (unsigned char c : target) {
        if (c <= 0x20 || c >= 0x7F) {
            char code[4];
            snprintf(code, sizeof code, "%%%02X", c);
            escaped += code;
        } else {
            escaped += char(c);
        }
    }
    return escaped;
}

}  // namespace umsim
