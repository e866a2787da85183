// MultiByteToWideChar and WideCharToMultiByte between UTF-16 and the ANSI
// code page (CP_ACP, 1252 taken as Latin-1, as the registry does), or UTF-8.
// A length of -1 means "up to and with the terminator"; an output size of 0
// asks for the size needed.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace {

bool KnownCodePage(UINT page) { return page == CP_ACP || page == CP_OEMCP || page == 1252 || page == 28591 || page == CP_UTF8; }

std::u16string FromUtf8(const uint8_t* bytes, size_t count, bool* invalid)
{
    std::u16string out;
    for (size_t i = 0; i < count;) {
        uint8_t b = bytes[i];
        size_t extra = b < 0x80 ? 0 : (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : 4;
        uint32_t cp = extra == 0 ? b : extra == 1 ? b & 0x1F : extra == 2 ? b & 0x0F : b & 0x07;
        bool ok = extra < 4 && i + extra < count;
        for (size_t k = 1; ok && k <= extra; ++k) {
            ok = (bytes[i + k] & 0xC0) == 0x80;
            cp = cp << 6 | (bytes[i + k] & 0x3F);
        }
        if (!ok || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            *invalid = true;
            out.push_back(u'\xFFFD');
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            out.push_back(char16_t(0xD800 + ((cp - 0x10000) >> 10)));
            out.push_back(char16_t(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            out.push_back(char16_t(cp));
        }
        i += extra + 1;
    }
    return out;
}

std::string ToUtf8(const char16_t* units, size_t count)
{
    std::string out;
    for (size_t i = 0; i < count; ++i) {
        uint32_t cp = units[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < count && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (units[++i] - 0xDC00);
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out += char(cp);
        } else if (cp < 0x800) {
            out += char(0xC0 | cp >> 6);
            out += char(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += char(0xE0 | cp >> 12);
            out += char(0x80 | (cp >> 6 & 0x3F));
            out += char(0x80 | (cp & 0x3F));
        } else {
            out += char(0xF0 | cp >> 18);
            out += char(0x80 | (cp >> 12 & 0x3F));
            out += char(0x80 | (cp >> 6 & 0x3F));
            out += char(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

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
        bool invalid = false;
        result = FromUtf8(bytes, count, &invalid);
        if (invalid && (dwFlags & MB_ERR_INVALID_CHARS)) {
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
        result = ToUtf8(lpWideCharStr, count);
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
