// The DLL runner's entries (rundll32 mrvusbaudio_coinst.dll,Entry {class guid}).
// Nothing escapes to the runner, which reads no result.
#include "registration.h"

#include <new>

namespace {

void RunForRunner(LONG (*action)(const char*), const char* classGuid)
{
    try {
        action(classGuid);
    } catch (const std::bad_alloc&) {
    }
}

}  // namespace

extern "C" void CALLBACK ClassCoInstaller_Register(HWND hwnd, HINSTANCE hinst, LPSTR lpszCmdLine, int nCmdShow)
{
    UNREFERENCED_PARAMETER(hwnd);
    UNREFERENCED_PARAMETER(hinst);
    UNREFERENCED_PARAMETER(nCmdShow);
    RunForRunner(RegisterClassCoInstaller, lpszCmdLine);
}

extern "C" void CALLBACK ClassCoInstaller_Unregister(HWND hwnd, HINSTANCE hinst, LPSTR lpszCmdLine, int nCmdShow)
{
    UNREFERENCED_PARAMETER(hwnd);
    UNREFERENCED_PARAMETER(hinst);
    UNREFERENCED_PARAMETER(nCmdShow);
    RunForRunner(UnregisterClassCoInstaller, lpszCmdLine);
}
