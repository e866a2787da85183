#include "aboutbox.h"

#include "comserver/module.h"
#include "resource.h"
#include "fileversion.h"

#include <stdio.h>
#include <cstring>

namespace {

INT_PTR CALLBACK aboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    UNREFERENCED_PARAMETER(lParam);
    switch (message) {
    case WM_INITDIALOG: {
        CHAR kernelPath[MAX_PATH];
        kernelDriverPath(kernelPath);
        const FileVersion asio = readFileVersion(modulePath());
        const FileVersion kernel = readFileVersion(kernelPath);
        char asioText[16], kernelText[16];
        formatVersionText(asio, asioText);
        formatVersionText(kernel, kernelText);
        CHAR text[160];
        _snprintf(text, sizeof text - 1, "ASIO Driver Version: %s %s\n\nWDM Driver Version: %s %s", asioText,
                  debugMark(asio), kernelText, debugMark(kernel));
        text[sizeof text - 1] = '\0';
        SetDlgItemTextA(dialog, IDC_VERSIONTEXT, text);
        return TRUE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        }
        break;
    }
    return FALSE;
}

}  // namespace

void kernelDriverPath(CHAR (&path)[MAX_PATH])
{
    // The system directory, not the host's current one.
    UINT length = GetSystemDirectoryA(path, MAX_PATH);
    const char kFile[] = "\\drivers\\mrvusbaudio.sys";
    if (length == 0 || length + sizeof kFile > MAX_PATH) {
        path[0] = '\0';
        return;
    }
    memcpy(path + length, kFile, sizeof kFile);
}

void showAboutBox(HWND owner) { DialogBoxParamA(moduleInstance(), MAKEINTRESOURCEA(IDD_ABOUT), owner, aboutProc, 0); }
