// Loadable modules: the system's kernel-streaming user library
// ("ksuser.dll", built in) and the project's own shared libraries.
#pragma once

#include <string>

namespace umsim {

// Makes a built-in system module unloadable (as on a machine that lacks
// it) or available again; LoadLibraryA then fails with ERROR_MOD_NOT_FOUND.
void SetSystemModuleAvailable(const std::string& name, bool available);

}  // namespace umsim
