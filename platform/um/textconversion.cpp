#include "um/textconversion.h"

#include <windows.h>

namespace umsim {
namespace {

std::string Narrow(UINT codePage, std::u16string_view text)
{
    if (text.empty()) return {};
    int size = WideCharToMultiByte(codePage, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size_t(std::max(size, 0)), '\0');
    WideCharToMultiByte(codePage, 0, text.data(), int(text.size()), out.data(), size, nullptr, nullptr);
    return out;
}

std::u16string Widen(UINT codePage, std::string_view text)
{
    if (text.empty()) return {};
    int size = MultiByteToWideChar(codePage, 0, text.data(), int(text.size()), nullptr, 0);
    std::u16string out(size_t(std::max(size, 0)), u'\0');
    MultiByteToWideChar(codePage, 0, text.data(), int(text.size()), out.data(), size);
    return out;
}

}  // namespace

std::string ToUtf8(std::u16string_view text) { return Narrow(CP_UTF8, text); }
std::u16string FromUtf8(std::string_view text) { return Widen(CP_UTF8, text); }
std::string ToAnsi(std::u16string_view text) { return Narrow(CP_ACP, text); }
std::u16string FromAnsi(std::string_view text) { return Widen(CP_ACP, text); }
std::u16string WideText(const char16_t* text) { return text ? std::u16string(text) : std::u16string(); }

bool EqualsNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i] >= 'A' && a[i] <= 'Z' ? char(a[i] - 'A' + 'a') : a[i];
        char y = b[i] >= 'A' && b[i] <= 'Z' ? char(b[i] - 'A' + 'a') : b[i];
        if (x != y) return false;
    }
    return true;
}

}  // namespace umsim
