// mrvupdate: asks the update server whether the caller's software has an
// update, and offers, downloads and starts it.
#include "updatemodule.h"

HINSTANCE g_updateModule = NULL;

extern "C" BOOL WINAPI DllMain(HINSTANCE hinstDLL, DWORD fdwReason, LPVOID lpvReserved)
{
    UNREFERENCED_PARAMETER(lpvReserved);
    if (fdwReason == DLL_PROCESS_ATTACH) g_updateModule = hinstDLL;
    return TRUE;
}
