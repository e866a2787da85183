// Dialogs named by resource: DialogBoxParamA/W and CreateDialogParamA/W.
#include "um/user32/dialogs.h"

namespace {

// Until the module's resources can be read, no template is found.
const void* FindDialogTemplate(HINSTANCE, ULONG_PTR, size_t*)
{
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return nullptr;
}

}  // namespace

INT_PTR WINAPI DialogBoxParamW(HINSTANCE hInstance, LPCWSTR lpTemplateName, HWND hWndParent, DLGPROC lpDialogFunc,
                               LPARAM dwInitParam)
{
    size_t size = 0;
    const void* data = FindDialogTemplate(hInstance, reinterpret_cast<ULONG_PTR>(lpTemplateName), &size);
    if (!data) return -1;
    return umsim::ModalDialog(data, size, hInstance, hWndParent, lpDialogFunc, dwInitParam,
                              IS_INTRESOURCE(lpTemplateName) ? int(reinterpret_cast<ULONG_PTR>(lpTemplateName)) : 0);
}

INT_PTR WINAPI DialogBoxParamA(HINSTANCE hInstance, LPCSTR lpTemplateName, HWND hWndParent, DLGPROC lpDialogFunc,
                               LPARAM dwInitParam)
{
    size_t size = 0;
    const void* data = FindDialogTemplate(hInstance, reinterpret_cast<ULONG_PTR>(lpTemplateName), &size);
    if (!data) return -1;
    return umsim::ModalDialog(data, size, hInstance, hWndParent, lpDialogFunc, dwInitParam,
                              IS_INTRESOURCE(lpTemplateName) ? int(reinterpret_cast<ULONG_PTR>(lpTemplateName)) : 0);
}

HWND WINAPI CreateDialogParamW(HINSTANCE hInstance, LPCWSTR lpTemplateName, HWND hWndParent, DLGPROC lpDialogFunc,
                               LPARAM dwInitParam)
{
    size_t size = 0;
    const void* data = FindDialogTemplate(hInstance, reinterpret_cast<ULONG_PTR>(lpTemplateName), &size);
    if (!data) return NULL;
    return umsim::ModelessDialog(data, size, hInstance, hWndParent, lpDialogFunc, dwInitParam,
                                 IS_INTRESOURCE(lpTemplateName) ? int(reinterpret_cast<ULONG_PTR>(lpTemplateName)) : 0);
}

HWND WINAPI CreateDialogParamA(HINSTANCE hInstance, LPCSTR lpTemplateName, HWND hWndParent, DLGPROC lpDialogFunc,
                               LPARAM dwInitParam)
{
    size_t size = 0;
    const void* data = FindDialogTemplate(hInstance, reinterpret_cast<ULONG_PTR>(lpTemplateName), &size);
    if (!data) return NULL;
    return umsim::ModelessDialog(data, size, hInstance, hWndParent, lpDialogFunc, dwInitParam,
                                 IS_INTRESOURCE(lpTemplateName) ? int(reinterpret_cast<ULONG_PTR>(lpTemplateName)) : 0);
}
