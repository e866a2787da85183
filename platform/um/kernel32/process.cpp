// The current process and its WOW64 state: the emulation is a native
// process of its own word size, never a 32-bit one on a 64-bit system.
#include <windows.h>

HANDLE WINAPI GetCurrentProcess(void) { return (HANDLE)(LONG_PTR)-1; }

BOOL WINAPI IsWow64Process(HANDLE hProcess, PBOOL Wow64Process)
{
    UNREFERENCED_PARAMETER(hProcess);
    if (!Wow64Process) {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    *Wow64Process = FALSE;  // a native process
    return TRUE;
}

// Only a WOW64 process has redirection to switch.
BOOL WINAPI Wow64DisableWow64FsRedirection(PVOID* OldValue)
{
    UNREFERENCED_PARAMETER(OldValue);
    SetLastError(ERROR_INVALID_FUNCTION);
    return FALSE;
}

BOOL WINAPI Wow64RevertWow64FsRedirection(PVOID OlValue)
{
    UNREFERENCED_PARAMETER(OlValue);
    SetLastError(ERROR_INVALID_FUNCTION);
    return FALSE;
}
