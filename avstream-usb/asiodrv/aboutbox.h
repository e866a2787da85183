// The About box: the versions of the ASIO driver and the kernel driver.
#pragma once

#include <windows.h>

void showAboutBox(HWND owner);
// Where the installed kernel driver's file is.
void kernelDriverPath(CHAR (&path)[MAX_PATH]);
