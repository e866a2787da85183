// The token characters of HTTP: what method and header names are made of.
#pragma once

#include <algorithm>
#include <cstring>
#include <string_view>

namespace umsim {

inline bool IsHttpTokenChar(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
           (c != '\0' && std::strchr("!#$%&'*+-.^_`|~", c) != nullptr);
}

inline bool IsHttpToken(std::string_view text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), IsHttpTokenChar);
}

}  // namespace umsim
