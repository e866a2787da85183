// Text between the two character sets of the Win32 API: the A functions'
// narrow strings are taken as UTF-8 (the code page of these machines), the
// W functions' as UTF-16.
#pragma once

#include <string>
#include <string_view>

namespace umsim {

std::string ToUtf8(std::u16string_view text);
std::u16string ToUtf16(std::string_view text);
// Null-terminated input; a null pointer is the empty text.
std::u16string WideText(const char16_t* text);

}  // namespace umsim
