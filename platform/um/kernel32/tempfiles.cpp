// GetTempPathA and GetTempFileNameA: the user's folder for temporary files
// in the virtual Windows root, and unique names inside a folder.
#include "um/kernel32/filepaths.h"

#include "um/windowsroot.h"

#include <windows.h>

#include <atomic>
#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

// The one user of the virtual Windows, as a fresh installation names it.
constexpr char kTempDirectory[] = "C:\\Users\\User\\AppData\\Local\\Temp\\";

// Where the search for a free name starts; moves on with every call so two
// callers rarely try the same names. Starts from the clock as Windows does.
std::atomic<uint32_t> g_nextUnique{uint32_t(
    std::chrono::steady_clock::now().time_since_epoch() / std::chrono::milliseconds(1))};

// Creates the file if no file of the name exists: 0 when this call made
// it, else the host's errno (EEXIST: the name is taken).
int CreateNew(const char* windowsName)
{
    auto host = umsim::WindowsRoot::HostPath(windowsName);
    if (!host) return ENOENT;
    int fd = open(host->c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
    if (fd < 0) return errno;
    close(fd);
    return 0;
}

}  // namespace

DWORD WINAPI GetTempPathA(DWORD nBufferLength, LPSTR lpBuffer)
{
    // The folder exists for every user on Windows; a fresh root gets it here.
    if (auto host = umsim::WindowsRoot::HostPath(kTempDirectory)) {
        std::error_code ec;
        std::filesystem::create_directories(*host, ec);
    }
    const DWORD length = DWORD(strlen(kTempDirectory));
    // Too small: nothing copied, the size needed with the terminator returned.
    if (!lpBuffer || nBufferLength <= length) return length + 1;
    memcpy(lpBuffer, kTempDirectory, length + 1);
    return length;
}

UINT WINAPI GetTempFileNameA(LPCSTR lpPathName, LPCSTR lpPrefixString, UINT uUnique, LPSTR lpTempFileName)
{
    if (!lpPathName || !lpTempFileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (umsim::ResolveRootPath(lpPathName).state != umsim::PathState::Folder) {
        SetLastError(ERROR_DIRECTORY);
        return 0;
    }
    std::string stem(lpPathName);
    if (stem.empty() || (stem.back() != '\\' && stem.back() != '/')) stem += '\\';
    if (lpPrefixString) stem.append(lpPrefixString, strnlen(lpPrefixString, 3));
    auto compose = [&](UINT number, char* out) {
        int length = snprintf(out, MAX_PATH, "%s%X.tmp", stem.c_str(), number & 0xFFFF);
        return length > 0 && length < MAX_PATH;
    };
    char name[MAX_PATH];
    if (uUnique != 0) {
        // A caller's own number: the name only, no file.
        if (!compose(uUnique, name)) {
            SetLastError(ERROR_BUFFER_OVERFLOW);
            return 0;
        }
        memcpy(lpTempFileName, name, strlen(name) + 1);
        return uUnique & 0xFFFF;
    }
    for (uint32_t tries = 0; tries < 0xFFFF; ++tries) {
        UINT number = (g_nextUnique++ % 0xFFFF) + 1;  // 1 to 0xFFFF: 0 asks for a search
        if (!compose(number, name)) {
            SetLastError(ERROR_BUFFER_OVERFLOW);
            return 0;
        }
        int error = CreateNew(name);
        if (error == EEXIST) continue;
        if (error != 0) {
            SetLastError(ERROR_ACCESS_DENIED);
            return 0;
        }
        memcpy(lpTempFileName, name, strlen(name) + 1);
        SetLastError(ERROR_SUCCESS);
        return number;
    }
    SetLastError(ERROR_FILE_EXISTS);
    return 0;
}
