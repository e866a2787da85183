// mrvsetuputil: a windowless program whose exit code is its command's result.
#include "setupcommands.h"

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nShowCmd)
{
    (void)hInstance;
    (void)hPrevInstance;
    (void)nShowCmd;
    return int(RunSetupCommand(lpCmdLine));
}
