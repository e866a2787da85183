// Loadable modules: the system's kernel-streaming user library
// ("ksuser.dll", built in) and the project's own shared libraries.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace umsim {

// Makes a built-in system module unloadable (as on a machine that lacks
// it) or available again; LoadLibraryA then fails with ERROR_MOD_NOT_FOUND.
void SetSystemModuleAvailable(const std::string& name, bool available);

// The Windows system directory, as GetSystemDirectoryA reports it.
constexpr char kSystemDirectory[] = "C:\\Windows\\System32";

// The program's module handle: its load address.
uintptr_t ProgramBase();
// The file of a loaded module, whose handle is its load address as on
// Windows; NULL is the program. nullopt when no module is loaded there.
std::optional<std::string> ModuleFilePath(HMODULE module);
// The load address of a file mapped in the process, named by its full path
// or (without a slash) by its file name; 0 when none is.
uintptr_t ImageOfFile(const std::string& name);
// What GetModuleFileNameA reports: the host file of a loaded module, or a
// built-in system module's Windows path.
std::optional<std::string> LoadedModulePath(HMODULE module);

}  // namespace umsim
