// timeBeginPeriod, timeEndPeriod, timeGetTime. The time is the virtual
// machine's: its USB bus frame counter (one frame per millisecond) while a
// machine is booted, else a steady clock in milliseconds.
#include <windows.h>

#include "um/bridge/kernelbridge.h"

#include <chrono>
#include <mutex>
#include <set>

namespace {

constexpr UINT kMaximumPeriod = 1000000;  // what the timer reports as its coarsest period

std::mutex g_periodsMutex;
std::multiset<UINT> g_periods;  // periods begun and not yet ended; guarded by g_periodsMutex

}  // namespace

MMRESULT WINAPI timeBeginPeriod(UINT uPeriod)
{
    if (uPeriod == 0 || uPeriod > kMaximumPeriod) return TIMERR_NOCANDO;
    std::lock_guard lock(g_periodsMutex);
    g_periods.insert(uPeriod);
    return TIMERR_NOERROR;
}

MMRESULT WINAPI timeEndPeriod(UINT uPeriod)
{
    std::lock_guard lock(g_periodsMutex);
    auto it = g_periods.find(uPeriod);
    if (it == g_periods.end()) return TIMERR_NOCANDO;  // no matching timeBeginPeriod
    g_periods.erase(it);
    return TIMERR_NOERROR;
}

DWORD WINAPI timeGetTime(void)
{
    if (auto frame = umsim::bridge::MachineFrame()) return *frame;
    auto now = std::chrono::steady_clock::now().time_since_epoch();
    return DWORD(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}
