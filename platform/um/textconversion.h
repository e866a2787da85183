// Text between the Win32 API's two character sets, through the code-page
// functions: the A functions' strings are in the ANSI code page (CP_ACP),
// the W functions' in UTF-16, and the emulation's own control surfaces
// speak UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace umsim {

std::string ToUtf8(std::u16string_view text);
std::u16string FromUtf8(std::string_view text);
std::string ToAnsi(std::u16string_view text);
std::u16string FromAnsi(std::string_view text);
// Null-terminated input; a null pointer is the empty text.
std::u16string WideText(const char16_t* text);
// Names Windows compares without case (INF sections and keys, profile
// names): ASCII letters fold, other bytes compare as they are.
bool EqualsNoCase(std::string_view a, std::string_view b);

}  // namespace umsim
