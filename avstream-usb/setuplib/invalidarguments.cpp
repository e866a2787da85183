#include "setupcommands.h"

void ShowInvalidArguments(const char* commandLine)
{
    MessageBoxA(NULL, commandLine, "mrvsetuputil - invalid arguments", MB_OK);
}
