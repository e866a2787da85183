// Dialogs named by resource: DialogBoxParamA/W and CreateDialogParamA/W
// read the RT_DIALOG template from the module's resources.
#include "um/user32/dialogs.h"

namespace {

struct Found {
    const void* data = nullptr;
    size_t size = 0;
    int resourceId = 0;
};

HRSRC FindDialog(HINSTANCE instance, LPCWSTR name) { return FindResourceW(instance, name, MAKEINTRESOURCEW(5)); }
HRSRC FindDialog(HINSTANCE instance, LPCSTR name) { return FindResourceA(instance, name, MAKEINTRESOURCEA(5)); }

// The template's bytes; none (with the error FindResource set) when the
// module has no such dialog.
template <class Name>
Found FindTemplate(HINSTANCE instance, Name name)
{
    Found found;
    HRSRC info = name ? FindDialog(instance, name) : NULL;
    if (!name) SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    if (!info) return found;
    found.data = LockResource(LoadResource(instance, info));
    found.size = SizeofResource(instance, info);
    found.resourceId = IS_INTRESOURCE(name) ? int(reinterpret_cast<ULONG_PTR>(name)) : 0;
    return found;
}

template <class Name>
INT_PTR Modal(HINSTANCE instance, Name name, HWND owner, DLGPROC proc, LPARAM param)
{
    Found t = FindTemplate(instance, name);
    return t.data ? umsim::ModalDialog(t.data, t.size, instance, owner, proc, param, t.resourceId) : -1;
}

template <class Name>
HWND Modeless(HINSTANCE instance, Name name, HWND owner, DLGPROC proc, LPARAM param)
{
    Found t = FindTemplate(instance, name);
    return t.data ? umsim::ModelessDialog(t.data, t.size, instance, owner, proc, param, t.resourceId) : NULL;
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
