// CreateDirectoryA and DeleteFileA in the virtual Windows root.
#include "um/kernel32/filepaths.h"

#include <windows.h>

#include <cstdio>
#include <sys/stat.h>

namespace {

// The error Windows gives for a path whose file or parent is not there.
DWORD MissingError(umsim::PathState state)
{
    return state == umsim::PathState::Missing ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

}  // namespace

BOOL WINAPI CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes)
{
    UNREFERENCED_PARAMETER(lpSecurityAttributes);  // the root has no security
    umsim::RootPath path = umsim::ResolveRootPath(lpPathName);
    switch (path.state) {
    case umsim::PathState::File:
    case umsim::PathState::Folder: SetLastError(ERROR_ALREADY_EXISTS); return FALSE;
    case umsim::PathState::Missing: break;
    default: SetLastError(ERROR_PATH_NOT_FOUND); return FALSE;
    }
    if (mkdir(path.host.c_str(), 0777) != 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL WINAPI DeleteFileA(LPCSTR lpFileName)
{
    umsim::RootPath path = umsim::ResolveRootPath(lpFileName);
    switch (path.state) {
    case umsim::PathState::File: break;
    // A folder is not a file to delete.
    case umsim::PathState::Folder: SetLastError(ERROR_ACCESS_DENIED); return FALSE;
    default: SetLastError(MissingError(path.state)); return FALSE;
    }
    if (remove(path.host.c_str()) != 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}
