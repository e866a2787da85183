// The state of the heap's fault injection, shared by the platform (which
// arms it) and the operator new every user-mode module links (which asks it).
#pragma once

#include <atomic>

namespace umsim::crt {

// Set while a fault is armed; read on every nothrow allocation, so that a
// disarmed heap costs one relaxed load.
extern std::atomic<bool> g_heapFaultsArmed;

// Counts the allocation; true when it is the one to fail. Only called
// while armed.
bool HeapAllocationFails();

}  // namespace umsim::crt
