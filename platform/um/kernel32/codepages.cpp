// MultiByteToWideChar and WideCharToMultiByte between UTF-16 and the ANSI
// code page (CP_ACP, 1252 taken as Latin-1, as the registry does), or UTF-8.
// A length of -1 means "up to and with the terminator"; an output size of 0
// asks for the size needed.
#include <windows.h>

// Plain C++ shared with the kernel side's bookkeeping (no kernel headers).
#include "km/utf16.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace {

bool KnownCodePage(UINT page) { return page == CP_ACP || page == CP_OEMCP || page == 1252 || page == 28591 || page == CP_UTF8; }

// Copies the result, or reports the size needed when the room is 0.
template <class Unit>
int Deliver(const std::basic_string<Unit>& result, Unit* out, int room)
{
    if (room == 0) return int(result.size());
    if (size_t(room) < result.size()) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::copy(result.begin(), result.end(), out);
    return int(result.size());
}

}  // namespace

int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCCH lpMultiByteStr, int cbMultiByte,
                               LPWSTR lpWideCharStr, int cchWideChar)
{
    if (!lpMultiByteStr || cbMultiByte == 0 || cbMultiByte < -1 || cchWideChar < 0 ||
        (cchWideChar && !lpWideCharStr) || (lpWideCharStr && static_cast<const void*>(lpWideCharStr) == lpMultiByteStr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (!KnownCodePage(CodePage)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (dwFlags & ~DWORD(MB_ERR_INVALID_CHARS)) {
        SetLastError(ERROR_INVALID_FLAGS);
        return 0;
    }
    size_t count = cbMultiByte == -1 ? strlen(lpMultiByteStr) + 1 : size_t(cbMultiByte);
    auto bytes = reinterpret_cast<const uint8_t*>(lpMultiByteStr);
    std::u16string result;
    if (CodePage == CP_UTF8) {
        std::string_view text(lpMultiByteStr, count);
        result = kmsim::Utf8ToUtf16(text);
        // Malformed input decodes as U+FFFD, so it does not survive the way back.
        if ((dwFlags & MB_ERR_INVALID_CHARS) && kmsim::Utf16ToUtf8(result) != text) {
            SetLastError(ERROR_NO_UNICODE_TRANSLATION);
            return 0;
        }
    } else {
        result.assign(bytes, bytes + count);
    }
    return Deliver(result, lpWideCharStr, cchWideChar);
}

int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWCH lpWideCharStr, int cchWideChar,
                               LPSTR lpMultiByteStr, int cbMultiByte, LPCCH lpDefaultChar, LPBOOL lpUsedDefaultChar)
{
    if (!lpWideCharStr || cchWideChar == 0 || cchWideChar < -1 || cbMultiByte < 0 ||
        (cbMultiByte && !lpMultiByteStr) || (lpMultiByteStr && static_cast<const void*>(lpMultiByteStr) == lpWideCharStr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (!KnownCodePage(CodePage) || (CodePage == CP_UTF8 && (lpDefaultChar || lpUsedDefaultChar))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (dwFlags != 0) {
        SetLastError(ERROR_INVALID_FLAGS);
        return 0;
    }
    size_t count = 0;
    if (cchWideChar == -1) {
        while (lpWideCharStr[count]) ++count;
        ++count;
    } else {
        count = size_t(cchWideChar);
    }
    std::string result;
    if (CodePage == CP_UTF8) {
        result = kmsim::Utf16ToUtf8(std::u16string_view(lpWideCharStr, count));
    } else {
        char fallback = lpDefaultChar ? *lpDefaultChar : '?';
        bool used = false;
        for (size_t i = 0; i < count; ++i) {
            used |= lpWideCharStr[i] > 0xFF;
            result += lpWideCharStr[i] > 0xFF ? fallback : char(lpWideCharStr[i]);
        }
        if (lpUsedDefaultChar) *lpUsedDefaultChar = used;
    }
    return Deliver(result, lpMultiByteStr, cbMultiByte);
}
