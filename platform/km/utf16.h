// UTF-8 <-> UTF-16 for the emulation's own bookkeeping (registry paths,
// symbolic links). Malformed input becomes U+FFFD rather than failing.
#pragma once

#include <string>
#include <string_view>

namespace kmsim {

std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

}  // namespace kmsim
