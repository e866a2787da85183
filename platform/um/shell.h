// The emulated shell's control surface, for tests and tools: what
// ShellExecuteA was asked to open and what came of it. Nothing is ever run
// on the host; a program the shell would start is recorded as started and
// shown to the launcher hook. Plain C++, so it can sit beside <windows.h>.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace umsim {

struct ShellExecuteRecord {
    void* owner = nullptr;      // the HWND passed
    // Texts in UTF-8, as the other control surfaces give them.
    std::string verb;           // as passed; empty for a null verb
    std::string file;           // as passed (Windows path)
    std::string parameters;     // empty for none
    std::string directory;      // empty for none
    int show = 0;               // SW_*
    std::string hostPath;       // the file it named on the host; empty when none
    intptr_t result = 0;        // the HINSTANCE returned: above 32 when started
    bool started = false;
};

// Called on the caller's thread for every program the shell starts, after
// the record is kept.
using ShellLauncher = std::function<void(const ShellExecuteRecord&)>;

std::vector<ShellExecuteRecord> ShellExecutions();
void OnShellStart(ShellLauncher launcher);
// Forgets the records and the launcher (a fresh process).
void ResetShell();

}  // namespace umsim
