// The start-up code of a Windows GUI program on Linux: the process's
// command line from its arguments, the virtual Windows root named by
// MRV_WINDOWS_ROOT, then WinMain with the command line less the program
// name. WinMain's result is the exit code; the root is saved after it.
// Linked into programs only (it defines main), never into the platform.
#include "um/commandline.h"
#include "um/windowsroot.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

int main(int argc, char** argv)
{
    umsim::SetProcessCommandLine(umsim::WindowsCommandLine(argc, argv));

    std::unique_ptr<umsim::WindowsRoot> root;
    if (const char* directory = getenv("MRV_WINDOWS_ROOT"); directory && *directory) {
        root = std::make_unique<umsim::WindowsRoot>(directory);
        if (!root->Opened()) {
            fprintf(stderr, "%s: the Windows root %s does not open: %s\n", argv[0], directory, root->Error().c_str());
            return 1;
        }
    }

    LPSTR commandLine = GetCommandLineA();
    int result = WinMain(GetModuleHandleA(NULL), NULL,
                         const_cast<LPSTR>(umsim::CommandLineAfterProgramName(commandLine)), SW_SHOWDEFAULT);

    std::string error;
    if (root && !root->Save(&error)) {
        fprintf(stderr, "%s: the Windows root %s was not saved: %s\n", argv[0], root->Directory().c_str(), error.c_str());
        return 1;
    }
    return result;
}
