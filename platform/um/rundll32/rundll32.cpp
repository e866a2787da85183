// The DLL runner: "module,entry arguments", the module name quoted when it
// holds spaces.
#include "um/rundll32.h"

#include "um/windowsroot.h"

#include <windows.h>

#include <vector>

namespace umsim {
namespace {

typedef void(CALLBACK* RunDllEntry)(HWND, HINSTANCE, LPSTR, int);

bool Fail(std::string* error, const std::string& message)
{
    if (error) *error = message;
    return false;
}

}  // namespace

bool RunDll32(const std::string& commandLine, std::string* error)
{
    size_t start = commandLine.find_first_not_of(' ');
    if (start == std::string::npos) return Fail(error, "no module named");
    std::string module;
    size_t comma;
    if (commandLine[start] == '"') {
        size_t close = commandLine.find('"', start + 1);
        if (close == std::string::npos) return Fail(error, "unterminated quote in \"" + commandLine + "\"");
        module = commandLine.substr(start + 1, close - start - 1);
        comma = commandLine.find_first_not_of(' ', close + 1);
        if (comma != std::string::npos && commandLine[comma] != ',') comma = std::string::npos;
    } else {
        comma = commandLine.find(',', start);
        module = commandLine.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    }
    if (comma == std::string::npos) return Fail(error, "Error in " + module + "\nMissing entry:");
    size_t entryEnd = commandLine.find(' ', comma + 1);
    std::string entry = commandLine.substr(comma + 1, entryEnd == std::string::npos ? std::string::npos
                                                                                   : entryEnd - comma - 1);
    std::string arguments;
    if (entryEnd != std::string::npos) {
        size_t first = commandLine.find_first_not_of(' ', entryEnd);
        if (first != std::string::npos) arguments = commandLine.substr(first);
    }
    if (entry.empty()) return Fail(error, "Error in " + module + "\nMissing entry:");

    std::string path = WindowsRoot::HostPath(module).value_or(module);
    HMODULE library = LoadLibraryA(path.c_str());
    if (!library) {
        return Fail(error, "There was a problem starting " + module + "\n\nThe specified module could not be found.");
    }
    auto routine = reinterpret_cast<RunDllEntry>(reinterpret_cast<void*>(GetProcAddress(library, entry.c_str())));
    if (!routine) {
        FreeLibrary(library);
        return Fail(error, "Error in " + module + "\nMissing entry:" + entry);
    }
    // The entry may write into its argument text, as it may on Windows.
    std::vector<char> text(arguments.begin(), arguments.end());
    text.push_back('\0');
    routine(NULL, reinterpret_cast<HINSTANCE>(library), text.data(), SW_SHOWNORMAL);
    FreeLibrary(library);
    return true;
}

}  // namespace umsim
