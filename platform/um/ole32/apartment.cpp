// CoInitialize, CoInitializeEx, CoUninitialize: per-thread apartments,
// counted as Windows counts them.
#include "um/ole32/comstate.h"

#include <mutex>

namespace {

struct Apartment {
    unsigned count = 0;  // CoInitialize calls not yet undone
    DWORD model = 0;     // COINIT_APARTMENTTHREADED or COINIT_MULTITHREADED
};
thread_local Apartment t_apartment;  // only its own thread touches it

std::mutex g_processMutex;
unsigned g_initializedThreads = 0;  // guarded by g_processMutex

}  // namespace

bool umsim::ComInitializedOnThisThread() { return t_apartment.count > 0; }

HRESULT WINAPI CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit)
{
    if (pvReserved) return E_INVALIDARG;
    DWORD model = dwCoInit & COINIT_APARTMENTTHREADED;
    if (t_apartment.count) {
        if (t_apartment.model != model) return RPC_E_CHANGED_MODE;
        ++t_apartment.count;
        return S_FALSE;
    }
    t_apartment = Apartment{1, model};
    std::lock_guard lock(g_processMutex);
    ++g_initializedThreads;
    return S_OK;
}

HRESULT WINAPI CoInitialize(LPVOID pvReserved) { return CoInitializeEx(pvReserved, COINIT_APARTMENTTHREADED); }

void WINAPI CoUninitialize(void)
{
    if (!t_apartment.count || --t_apartment.count) return;
    bool last = false;
    {
        std::lock_guard lock(g_processMutex);
        last = --g_initializedThreads == 0;
    }
    if (last) umsim::FreeComLibrariesAtUninitialize();
}
