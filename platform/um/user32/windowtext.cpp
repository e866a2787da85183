// Window and dialog-item texts, through WM_SETTEXT and WM_GETTEXT as on
// Windows, so a dialog procedure sees its own caption change.
#include "um/user32/window.h"

namespace {

int GetText(HWND hWnd, LPARAM buffer, int size, bool wide, const char* routine)
{
    if (!umsim::LookupWindow(hWnd, routine)) return 0;
    if (size <= 0) return 0;
    return int(wide ? SendMessageW(hWnd, WM_GETTEXT, WPARAM(size), buffer)
                    : SendMessageA(hWnd, WM_GETTEXT, WPARAM(size), buffer));
}

}  // namespace

BOOL WINAPI SetWindowTextW(HWND hWnd, LPCWSTR lpString)
{
    if (!umsim::LookupWindow(hWnd, "SetWindowTextW")) return FALSE;
    return SendMessageW(hWnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(lpString ? lpString : u"")) ? TRUE : FALSE;
}

BOOL WINAPI SetWindowTextA(HWND hWnd, LPCSTR lpString)
{
    if (!umsim::LookupWindow(hWnd, "SetWindowTextA")) return FALSE;
    return SendMessageA(hWnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(lpString ? lpString : "")) ? TRUE : FALSE;
}

int WINAPI GetWindowTextW(HWND hWnd, LPWSTR lpString, int nMaxCount)
{
    return GetText(hWnd, reinterpret_cast<LPARAM>(lpString), nMaxCount, true, "GetWindowTextW");
}

int WINAPI GetWindowTextA(HWND hWnd, LPSTR lpString, int nMaxCount)
{
    return GetText(hWnd, reinterpret_cast<LPARAM>(lpString), nMaxCount, false, "GetWindowTextA");
}

int WINAPI GetWindowTextLengthW(HWND hWnd)
{
    if (!umsim::LookupWindow(hWnd, "GetWindowTextLengthW")) return 0;
    return int(SendMessageW(hWnd, WM_GETTEXTLENGTH, 0, 0));
}

int WINAPI GetWindowTextLengthA(HWND hWnd)
{
    if (!umsim::LookupWindow(hWnd, "GetWindowTextLengthA")) return 0;
    return int(SendMessageA(hWnd, WM_GETTEXTLENGTH, 0, 0));
}

BOOL WINAPI SetDlgItemTextW(HWND hDlg, int nIDDlgItem, LPCWSTR lpString)
{
    HWND control = GetDlgItem(hDlg, nIDDlgItem);
    return control ? SetWindowTextW(control, lpString) : FALSE;
}

BOOL WINAPI SetDlgItemTextA(HWND hDlg, int nIDDlgItem, LPCSTR lpString)
{
    HWND control = GetDlgItem(hDlg, nIDDlgItem);
    return control ? SetWindowTextA(control, lpString) : FALSE;
}

UINT WINAPI GetDlgItemTextW(HWND hDlg, int nIDDlgItem, LPWSTR lpString, int cchMax)
{
    HWND control = GetDlgItem(hDlg, nIDDlgItem);
    if (!control) {
        if (lpString && cchMax > 0) lpString[0] = 0;
        return 0;
    }
    return UINT(GetWindowTextW(control, lpString, cchMax));
}

UINT WINAPI GetDlgItemTextA(HWND hDlg, int nIDDlgItem, LPSTR lpString, int cchMax)
{
    HWND control = GetDlgItem(hDlg, nIDDlgItem);
    if (!control) {
        if (lpString && cchMax > 0) lpString[0] = 0;
        return 0;
    }
    return UINT(GetWindowTextA(control, lpString, cchMax));
}
