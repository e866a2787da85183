#include "ownfilename.h"

#include <string.h>

char g_ownFileName[MAX_PATH];

void RememberOwnFileName(const char* modulePath)
{
    const char* backslash = strrchr(modulePath, '\\');
    g_ownFileName[0] = 0;
    if (backslash && strlen(backslash + 1) < sizeof g_ownFileName) strcpy(g_ownFileName, backslash + 1);
}

void ForgetOwnFileName() { g_ownFileName[0] = 0; }
