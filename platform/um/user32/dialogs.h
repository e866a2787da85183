// Dialogs from template bytes, for the resource-based entry points.
#pragma once

#include <windows.h>

#include <cstddef>

namespace umsim {

// DialogBoxParam over a template of size bytes (a resource's): -1 with
// ERROR_INVALID_DATA when the template does not parse.
INT_PTR ModalDialog(const void* data, size_t size, HINSTANCE instance, HWND owner, DLGPROC proc, LPARAM param,
                    int resourceId);
// CreateDialogParam over the same.
HWND ModelessDialog(const void* data, size_t size, HINSTANCE instance, HWND owner, DLGPROC proc, LPARAM param,
                    int resourceId);
// The icon or bitmap a static control's template names by ordinal (by its
// SS_ICON or SS_BITMAP style), or null.
HANDLE LoadControlImage(HINSTANCE instance, uint16_t resourceId, uint32_t style);

}  // namespace umsim
