// Dialogs named by resource: DialogBoxParamA/W and CreateDialogParamA/W
// read the RT_DIALOG template from the module's resources.
#include "um/user32/dialogs.h"

namespace {

struct Found {
    const void* data = nullptr;
    size_t size = 0;
    int resourceId = 0;
};

template <class Name>
Found FindTemplate(HINSTANCE instance, Name name, HRSRC info)
{
    Found found;
    if (!info) return found;  // FindResource set the error
    found.data = LockResource(LoadResource(instance, info));
    found.size = SizeofResource(instance, info);
    found.resourceId = IS_INTRESOURCE(name) ? int(reinterpret_cast<ULONG_PTR>(name)) : 0;
    return found;
}

Found FindTemplate(HINSTANCE instance, LPCWSTR name)
{
    return FindTemplate(instance, name, name ? FindResourceW(instance, name, MAKEINTRESOURCEW(5)) : NULL);
}

Found FindTemplate(HINSTANCE instance, LPCSTR name)
{
    return FindTemplate(instance, name, name ? FindResourceA(instance, name, MAKEINTRESOURCEA(5)) : NULL);
}

template <class Name>
INT_PTR Modal(HINSTANCE instance, Name name, HWND owner, DLGPROC proc, LPARAM param)
{
    Found t = FindTemplate(instance, name);
    if (!t.data) {
        if (!name) SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return -1;
    }
    return umsim::ModalDialog(t.data, t.size, instance, owner, proc, param, t.resourceId);
}

template <class Name>
HWND Modeless(HINSTANCE instance, Name name, HWND owner, DLGPROC proc, LPARAM param)
{
    Found t = FindTemplate(instance, name);
    if (!t.data) {
        if (!name) SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return NULL;
    }
    return umsim::ModelessDialog(t.data, t.size, instance, owner, proc, param, t.resourceId);
}

}  // namespace

INT_PTR WINAPI DialogBoxParamW(HINSTANCE hInstance, LPCWSTR lpTemplateName, HWND hWndParent, DLGPROC lpDialogFunc,
                               LPARAM dwInitParam)
{
    return Modal(hInstance, lpTemplateName, hWndParent, lpDialogFunc, dwInitParam);
}

INT_PTR WINAPI DialogBoxParamA(HINSTANCE hInstance, LPCSTR lpTemplateName, HWND hWndParent, DLGPROC lpDialogFunc,
                               LPARAM dwInitParam)
{
    return Modal(hInstance, lpTemplateName, hWndParent, lpDialogFunc, dwInitParam);
}

HWND WINAPI CreateDialogParamW(HINSTANCE hInstance, LPCWSTR lpTemplateName, HWND hWndParent, DLGPROC lpDialogFunc,
                               LPARAM dwInitParam)
{
    return Modeless(hInstance, lpTemplateName, hWndParent, lpDialogFunc, dwInitParam);
}

HWND WINAPI CreateDialogParamA(HINSTANCE hInstance, LPCSTR lpTemplateName, HWND hWndParent, DLGPROC lpDialogFunc,
                               LPARAM dwInitParam)
{
    return Modeless(hInstance, lpTemplateName, hWndParent, lpDialogFunc, dwInitParam);
}
