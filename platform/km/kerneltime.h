// Kernel time-outs on the host clock.
#pragma once

#include <wdm.h>

#include <chrono>

namespace kmsim {

// A kernel time-out value: negative = relative, in 100 ns, scaled by
// TimeoutScale(); positive = absolute system time (100 ns since 1601).
std::chrono::steady_clock::time_point DeadlineFromTimeout(LONGLONG timeout);

}  // namespace kmsim
