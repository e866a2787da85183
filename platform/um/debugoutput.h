// What the process wrote with OutputDebugStringA, for tests and tools (the
// debugger's side of the call). Thread-safe.
#pragma once

#include <string>

namespace umsim {

// Everything written since the last call, in order, and forgets it.
std::string TakeDebugOutput();
// Also copies each string to the standard error as it is written (for
// tools; off at start).
void SetDebugOutputEcho(bool echo);

}  // namespace umsim
