// CharLowerA: lower case in the ANSI code page (1252, taken as Latin-1 as
// elsewhere here). A pointer below 0x10000 carries one character in its low
// byte and gets the lower-case character back the same way.
#include <windows.h>

namespace {

char Lower(char c)
{
    auto u = uint8_t(c);
    // A-Z and the Latin-1 capitals À-Þ except the multiplication sign.
    if ((u >= 'A' && u <= 'Z') || (u >= 0xC0 && u <= 0xDE && u != 0xD7)) return char(u + 0x20);
    return c;
}

}  // namespace

LPSTR WINAPI CharLowerA(LPSTR lpsz)
{
    if (!lpsz) return NULL;
    if (IS_INTRESOURCE(lpsz)) {
        return reinterpret_cast<LPSTR>(uintptr_t(uint8_t(Lower(char(reinterpret_cast<uintptr_t>(lpsz))))));
    }
    for (char* p = lpsz; *p; ++p) *p = Lower(*p);
    return lpsz;
}
