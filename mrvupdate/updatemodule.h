// The library's own module handle, kept by its entry point: the prompt's
// texts and the download dialog are read from its resources.
#pragma once

#include <windows.h>

extern HINSTANCE g_updateModule;
