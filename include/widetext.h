// Wide-character literals of the Windows APIs: WIDE("Parameters").
//
// WCHAR is the 16-bit UTF-16 unit everywhere. Windows' wchar_t is that
// unit, so Windows code spells the literal L"...". On Linux wchar_t is 32
// bits and the emulation's WCHAR is char16_t, whose literal is u"...".
// Making wchar_t 16-bit there (-fshort-wchar) would let L"..." fit, but the
// C library's wide functions and libstdc++'s wide strings in the same
// process assume 32 bits and would silently misread such strings.
#pragma once

#ifdef _WIN32
#define WIDE(text) L##text
#else
#define WIDE(text) u##text
#endif
