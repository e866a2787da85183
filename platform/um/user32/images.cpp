// LoadIconA/W and LoadImageA/W.
#include "um/user32/dialogs.h"

namespace umsim {

HANDLE LoadControlImage(HINSTANCE, uint16_t, uint32_t) { return nullptr; }

}  // namespace umsim

HICON WINAPI LoadIconW(HINSTANCE, LPCWSTR)
{
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return NULL;
}

HICON WINAPI LoadIconA(HINSTANCE, LPCSTR)
{
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return NULL;
}

HANDLE WINAPI LoadImageW(HINSTANCE, LPCWSTR, UINT, int, int, UINT)
{
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return NULL;
}

HANDLE WINAPI LoadImageA(HINSTANCE, LPCSTR, UINT, int, int, UINT)
{
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return NULL;
}
