// mrvusbaudio_coinst: the class co-installer that steers driver selection to
// the packages naming it. Its module entry keeps its own file name.
#include "ownfilename.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE hinstDLL, DWORD fdwReason, LPVOID lpvReserved)
{
    UNREFERENCED_PARAMETER(lpvReserved);
    if (fdwReason == DLL_PROCESS_ATTACH) {
        char path[MAX_PATH];
        DWORD length = GetModuleFileNameA(hinstDLL, path, sizeof path);
        // A cut path would give a wrong name: none is safer.
        RememberOwnFileName(length && length < sizeof path ? path : "");
    } else if (fdwReason == DLL_PROCESS_DETACH) {
        ForgetOwnFileName();
    }
    return TRUE;
}
