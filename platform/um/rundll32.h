// The system's DLL runner, as "rundll32.exe file.dll,Entry arguments" runs
// a module's command-line entry. Plain C++, for tests and tools.
#pragma once

#include <string>

namespace umsim {

// Loads the module (a drive path lies in the virtual Windows root; a bare
// name is searched as LoadLibraryA searches), finds the entry, calls it as
// void CALLBACK Entry(HWND, HINSTANCE, LPSTR arguments, int show) and frees
// the module. False with the runner's own message in *error when the
// command line names no module and entry, the module does not load or the
// entry is missing.
bool RunDll32(const std::string& commandLine, std::string* error = nullptr);

}  // namespace umsim
