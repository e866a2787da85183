// The module's entry points: DllMain and the COM server exports.
#include "classfactory.h"
#include "combase.h"
#include "module.h"
#include "registration.h"

#include <stdio.h>

namespace {
HINSTANCE g_hInstance = NULL;
CHAR g_szModulePath[MAX_PATH] = {};
LONG g_cServerLocks = 0;
}  // namespace

HINSTANCE moduleInstance() { return g_hInstance; }
LPCSTR modulePath() { return g_szModulePath; }
void lockServer(bool lock) { g_cServerLocks += lock ? 1 : -1; }
LONG serverLocks() { return g_cServerLocks; }

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID lpReserved)
{
    UNREFERENCED_PARAMETER(lpReserved);
    if (dwReason == DLL_PROCESS_ATTACH) {
        g_hInstance = hInstance;
        if (GetModuleFileNameA(hInstance, g_szModulePath, MAX_PATH) == 0) {
            printf("GetModuleFileName failed (%d)\n", int(GetLastError()));
            return FALSE;
        }
    } else if (dwReason == DLL_PROCESS_DETACH) {
        g_hInstance = NULL;
        g_szModulePath[0] = '\0';
    }
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv)
try {
    return getClassObject(rclsid, riid, ppv);
} catch (...) {
    return E_UNEXPECTED;
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow()
{
    return serverLocks() > 0 || CUnknown::LiveObjects() > 0 ? S_FALSE : S_OK;
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer()
try {
    return registerServer();
} catch (...) {
    return E_UNEXPECTED;
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer()
try {
    return unregisterServer();
} catch (...) {
    return E_UNEXPECTED;
}
