// LoadStringA/W: string tables are RT_STRING blocks of 16 counted UTF-16
// strings; id n lies in block n / 16 + 1 at index n % 16.
#include "um/kernel32/resfile.h"

#include <algorithm>
#include <cstring>

namespace {

// The string's units inside its block, or false with the last error set.
// A block whose counts run past its end is treated as missing the string.
bool FindString(HINSTANCE hInstance, UINT uID, const uint8_t** units, size_t* length)
{
    umsim::ResourceId type, name;
    type.number = 6;  // RT_STRING
    name.number = uint16_t((uID >> 4) + 1);
    DWORD error = ERROR_SUCCESS;
    const umsim::ResourceTable* table = umsim::ResourcesOfModule(hInstance, &error);
    const umsim::ResourceEntry* block =
        table && uID <= 0xFFFF ? umsim::FindResourceEntry(*table, type, name, &error) : nullptr;
    if (!block) {
        SetLastError(table && uID > 0xFFFF ? ERROR_RESOURCE_NAME_NOT_FOUND : error);
        return false;
    }
    size_t offset = 0;
    for (UINT index = 0;; ++index) {
        if (block->size - offset < 2) break;
        size_t count = size_t(block->data[offset] | block->data[offset + 1] << 8);
        if (count * 2 > block->size - offset - 2) break;
        if (index == (uID & 15)) {
            if (!count) break;
            *units = block->data + offset + 2;
            *length = count;
            return true;
        }
        offset += 2 + count * 2;
    }
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return false;
}

}  // namespace

int WINAPI LoadStringW(HINSTANCE hInstance, UINT uID, LPWSTR lpBuffer, int cchBufferMax)
{
    if (!lpBuffer || cchBufferMax < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const uint8_t* units = nullptr;
    size_t length = 0;
    bool found = FindString(hInstance, uID, &units, &length);
    if (cchBufferMax == 0) {
        // The read-only string itself, not terminated.
        if (!found) return 0;
        memcpy(lpBuffer, &units, sizeof units);
        return int(length);
    }
    size_t copied = found ? std::min(length, size_t(cchBufferMax) - 1) : 0;
    if (copied) memcpy(lpBuffer, units, copied * 2);
    lpBuffer[copied] = 0;
    return int(copied);
}

int WINAPI LoadStringA(HINSTANCE hInstance, UINT uID, LPSTR lpBuffer, int cchBufferMax)
{
    if (!lpBuffer || cchBufferMax <= 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const uint8_t* units = nullptr;
    size_t length = 0;
    size_t copied = 0;
    if (FindString(hInstance, uID, &units, &length)) {
        // To the ANSI code page (1252 taken as Latin-1 here).
        for (; copied < length && copied + 1 < size_t(cchBufferMax); ++copied) {
            unsigned unit = unsigned(units[copied * 2] | units[copied * 2 + 1] << 8);
            lpBuffer[copied] = unit < 0x100 ? char(unit) : '?';
        }
    }
    lpBuffer[copied] = 0;
    return int(copied);
}
