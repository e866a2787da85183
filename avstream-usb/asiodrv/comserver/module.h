// What the module knows of itself: its instance and full path (recorded by
// DllMain on attach), and the server lock count of IClassFactory::LockServer.
#pragma once

#include <windows.h>

HINSTANCE moduleInstance();
LPCSTR modulePath();

// Changed without atomics: COM calls it on the apartment's thread.
void lockServer(bool lock);
LONG serverLocks();
