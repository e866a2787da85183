// The co-installer's own file name ("mrvusbaudio_coinst.dll"), which its
// registration entries carry and a driver package's INF names.
#pragma once

#include <windows.h>

// The part of the module's path after its last backslash; empty when the
// path has none (or did not fit MAX_PATH), and then nothing is own.
// Written only at process attach and detach, under the loader lock, before
// and after every other call into the module.
extern char g_ownFileName[MAX_PATH];

void RememberOwnFileName(const char* modulePath);
void ForgetOwnFileName();
