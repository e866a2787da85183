// The C runtime's nothrow operator new and new[], which product code
// allocates with. As with the Windows C runtime, each module links its own
// copy (the link keeps it out of the module's exports, so the module's calls
// stay in the module), and all copies
// reach one heap: the throwing forms, whose blocks the usual operator delete
// frees. The heap may be told to fail an allocation (um/umverifier.h).
#include "um/msvcrt/heapfaults.h"

#include <new>

void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    if (umsim::crt::g_heapFaultsArmed.load(std::memory_order_relaxed) && umsim::crt::HeapAllocationFails()) {
        return nullptr;
    }
    try {
        return ::operator new(size);
    } catch (...) {
        return nullptr;
    }
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    if (umsim::crt::g_heapFaultsArmed.load(std::memory_order_relaxed) && umsim::crt::HeapAllocationFails()) {
        return nullptr;
    }
    try {
        return ::operator new[](size);
    } catch (...) {
        return nullptr;
    }
}
