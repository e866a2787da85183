// Fault injection into the C runtime's heap, counted across every module of
// the process as one heap would be.
#include "um/msvcrt/heapfaults.h"

#include "um/umverifier.h"

#include <cstdint>

namespace umsim::crt {

std::atomic<bool> g_heapFaultsArmed{false};

namespace {
// Atomics only: allocations come from every thread at once. The countdown
// is written by the test's thread before it arms, and read after.
std::atomic<uint64_t> g_seen{0};      // allocations since armed
std::atomic<uint64_t> g_failAt{0};    // which of them fails; 0: none
std::atomic<uint64_t> g_injected{0};  // failures so far, process-wide
}  // namespace

bool HeapAllocationFails()
{
    const uint64_t n = g_seen.fetch_add(1, std::memory_order_relaxed) + 1;
    if (n != g_failAt.load(std::memory_order_relaxed)) return false;
    g_injected.fetch_add(1, std::memory_order_relaxed);
    return true;
}

}  // namespace umsim::crt

namespace umsim {

void FailNthHeapAllocation(uint64_t n)
{
    crt::g_seen.store(0);
    crt::g_failAt.store(n);
    crt::g_heapFaultsArmed.store(true);
}

void ClearHeapFaults()
{
    crt::g_heapFaultsArmed.store(false);
    crt::g_failAt.store(0);
}

uint64_t InjectedHeapFailures() { return crt::g_injected.load(); }

uint64_t HeapAllocationsSinceArmed() { return crt::g_heapFaultsArmed.load() ? crt::g_seen.load() : 0; }

}  // namespace umsim
