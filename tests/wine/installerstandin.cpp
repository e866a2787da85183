// A harmless stand-in for an update's installer: it leaves a mark in the
// root of drive C: that it was started, and ends.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    HANDLE mark = CreateFileA("C:\\mrv-installer-started.txt", GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (mark == INVALID_HANDLE_VALUE) return 1;
    DWORD written = 0;
    WriteFile(mark, "started\r\n", 9, &written, NULL);
    CloseHandle(mark);
    return 0;
}
