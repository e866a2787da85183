// The Windows C runtime's own functions: _vsnprintf (no terminator when the
// text fills the buffer, -1 when it does not fit) and case-blind compares.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <strings.h>
#include <vector>

int _vsnprintf(char* buffer, size_t count, const char* format, va_list args)
{
    if (!format || (!buffer && count)) return -1;
    va_list copy;
    va_copy(copy, args);
    int length = vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (length < 0) return -1;
    std::vector<char> text(size_t(length) + 1);
    vsnprintf(text.data(), text.size(), format, args);
    if (size_t(length) >= count) {
        // The buffer gets what fits, unterminated; exactly full still counts
        // as fitting (returns the length) but has no room for the zero.
        memcpy(buffer, text.data(), count);
        return size_t(length) == count ? length : -1;
    }
    memcpy(buffer, text.data(), size_t(length) + 1);
    return length;
}

int _snprintf(char* buffer, size_t count, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int length = _vsnprintf(buffer, count, format, args);
    va_end(args);
    return length;
}

int _stricmp(const char* a, const char* b) { return strcasecmp(a, b); }
int _strnicmp(const char* a, const char* b, size_t count) { return strncasecmp(a, b, count); }
