// ShellExecuteA: opens a file of the virtual Windows root as the shell
// would. Programs (and installer packages, and folders) are "started" by
// being recorded, never run on the host; everything else fails with the
// shell's own codes. See um/shell.h.
#include "um/shell.h"

#include "um/kernel32/filepaths.h"
#include "um/textconversion.h"

#include <shellapi.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <mutex>

namespace umsim {
namespace {

struct ShellState {  // under the mutex
    std::mutex mutex;
    std::vector<ShellExecuteRecord> records;
    ShellLauncher launcher;
};

ShellState& TheShell()
{
    static auto* shell = new ShellState;
    return *shell;
}

// What Windows hands out for a started program: any value above 32.
constexpr intptr_t kStarted = 42;

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](char c) { return char(tolower(uint8_t(c))); });
    return text;
}

bool StartsWith(const std::string& hostPath, std::string_view signature)
{
    std::ifstream in(hostPath, std::ios::binary);
    std::string head(signature.size(), '\0');
    return in.read(head.data(), std::streamsize(head.size())) && head == signature;
}

struct Outcome {
    intptr_t result;
    DWORD lastError;
};

Outcome Fail(intptr_t result, DWORD lastError) { return {result, lastError}; }

// What the shell makes of a verb on an existing file.
Outcome OpenFile(const std::string& verb, const std::string& file, const std::string& hostPath)
{
    const std::string lower = Lower(file);
    const size_t dot = lower.find_last_of(".\\/");
    const std::string extension = dot != std::string::npos && lower[dot] == '.' ? lower.substr(dot) : "";
    const bool program = extension == ".exe" || extension == ".com" || extension == ".bat" || extension == ".cmd";
    if (!program && extension != ".msi") return Fail(SE_ERR_NOASSOC, ERROR_NO_ASSOCIATION);
    // Programs and packages open and run elevated; no other verb is registered for them.
    if (!verb.empty() && verb != "open" && verb != "runas") return Fail(SE_ERR_NOASSOC, ERROR_NO_ASSOCIATION);
    if (!std::ifstream(hostPath, std::ios::binary)) return Fail(SE_ERR_ACCESSDENIED, ERROR_ACCESS_DENIED);
    // An image must carry the MZ header; a package is a compound file.
    if ((extension == ".exe" || extension == ".com") && !StartsWith(hostPath, "MZ")) {
        return Fail(ERROR_BAD_FORMAT, ERROR_BAD_FORMAT);
    }
    if (extension == ".msi" && !StartsWith(hostPath, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1")) {
        return Fail(ERROR_BAD_FORMAT, ERROR_BAD_FORMAT);
    }
    return {kStarted, ERROR_SUCCESS};
}

// file and directory in the ANSI code page, as passed.
Outcome Execute(ShellExecuteRecord& record, std::string path, const std::string& directory)
{
    if (path.empty()) return Fail(SE_ERR_FNF, ERROR_FILE_NOT_FOUND);
    // A relative name is found in the folder given (there is no current
    // folder in the emulation).
    const bool absolute = path.size() >= 3 && path[1] == ':' && (path[2] == '\\' || path[2] == '/');
    if (!absolute) {
        if (directory.empty()) return Fail(SE_ERR_FNF, ERROR_FILE_NOT_FOUND);
        path = directory + (directory.back() == '\\' ? "" : "\\") + path;
    }
    RootPath resolved = ResolveRootPath(path.c_str());
    record.hostPath = resolved.host;
    const std::string verb = Lower(record.verb);
    switch (resolved.state) {
    case PathState::OutsideRoot:
    case PathState::NoParent: return Fail(SE_ERR_PNF, ERROR_PATH_NOT_FOUND);
    case PathState::Missing: return Fail(SE_ERR_FNF, ERROR_FILE_NOT_FOUND);
    case PathState::Folder:
        // The shell opens a folder in a window of its own.
        if (!verb.empty() && verb != "open" && verb != "explore") return Fail(SE_ERR_NOASSOC, ERROR_NO_ASSOCIATION);
        return {kStarted, ERROR_SUCCESS};
    case PathState::File: break;
    }
    return OpenFile(verb, path, resolved.host);
}

}  // namespace

std::vector<ShellExecuteRecord> ShellExecutions()
{
    ShellState& shell = TheShell();
    std::lock_guard lock(shell.mutex);
    return shell.records;
}

void OnShellStart(ShellLauncher launcher)
{
    ShellState& shell = TheShell();
    std::lock_guard lock(shell.mutex);
    shell.launcher = std::move(launcher);
}

void ResetShell()
{
    ShellState& shell = TheShell();
    std::lock_guard lock(shell.mutex);
    shell.records.clear();
    shell.launcher = nullptr;
}

}  // namespace umsim

HINSTANCE WINAPI ShellExecuteA(HWND hwnd, LPCSTR lpOperation, LPCSTR lpFile, LPCSTR lpParameters,
                               LPCSTR lpDirectory, INT nShowCmd)
{
    umsim::ShellExecuteRecord record;
    record.owner = hwnd;
    auto text = [](LPCSTR s) { return s ? umsim::ToUtf8(umsim::FromAnsi(s)) : std::string(); };
    record.verb = text(lpOperation);
    record.file = text(lpFile);
    record.parameters = text(lpParameters);
    record.directory = text(lpDirectory);
    record.show = nShowCmd;
    umsim::Outcome outcome = umsim::Execute(record, lpFile ? lpFile : "", lpDirectory ? lpDirectory : "");
    record.result = outcome.result;
    record.started = outcome.result > 32;
    umsim::ShellLauncher launcher;
    {
        umsim::ShellState& shell = umsim::TheShell();
        std::lock_guard lock(shell.mutex);
        shell.records.push_back(record);
        if (record.started) launcher = shell.launcher;
    }
    if (launcher) launcher(record);
    SetLastError(outcome.lastError);
    return reinterpret_cast<HINSTANCE>(outcome.result);
}
