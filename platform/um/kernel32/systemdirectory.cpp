// GetSystemDirectoryA: the Windows path; the virtual Windows root maps it to
// a host directory for the file functions.
#include "um/modules.h"

#include <cstring>

UINT WINAPI GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize)
{
    UINT length = UINT(strlen(umsim::kSystemDirectory));
    // Too small: nothing copied, the size needed with the terminator returned.
    if (!lpBuffer || uSize <= length) return length + 1;
    memcpy(lpBuffer, umsim::kSystemDirectory, length + 1);
    return length;
}
