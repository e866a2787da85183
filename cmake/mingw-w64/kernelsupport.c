// Routines the compiler calls on its own that the x86 kernel does not
// export (the WDK's static kernel runtime library supplies them there).
#include <stddef.h>

int __cdecl memcmp(const void* a, const void* b, size_t n)
{
    const unsigned char* p = (const unsigned char*)a;
    const unsigned char* q = (const unsigned char*)b;
    for (; n != 0; --n, ++p, ++q) {
        if (*p != *q) return *p < *q ? -1 : 1;
    }
    return 0;
}
