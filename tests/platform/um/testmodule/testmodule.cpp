// A module the loader tests load: DllMain reports each call to the debug
// output and, built with MRV_FAIL_ATTACH, refuses to attach.
#include <windows.h>

#include <cstdio>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    char line[64];
    snprintf(line, sizeof line, "DllMain %lu %s\n", static_cast<unsigned long>(reason),
             instance == GetModuleHandleA(NULL) ? "program" : "module");
    OutputDebugStringA(line);
#ifdef MRV_FAIL_ATTACH
    return reason != DLL_PROCESS_ATTACH;
#else
    return TRUE;
#endif
}

extern "C" int TestModuleAnswer() { return 42; }
