// mrvsetuputil: a windowless program whose exit code is its command's result.
#include "setupcommands.h"

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nShowCmd)
{
    UNREFERENCED_PARAMETER(hInstance);
    UNREFERENCED_PARAMETER(hPrevInstance);
    UNREFERENCED_PARAMETER(nShowCmd);
    return int(RunSetupCommand(lpCmdLine));
}
