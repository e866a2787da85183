// The version of an image file as the About box shows it.
#pragma once

#include <windows.h>

struct FileVersion {
    WORD major, minor, stage, build;
    bool debug;  // VS_FF_DEBUG set in both the flags and their mask
};

// Reads the file's fixed version information; all zero when it cannot.
FileVersion readFileVersion(LPCSTR path);

// "1.5.4" for 1.5.128.4, "2.0b3" for 2.0.64.3; four numbers for an unknown
// stage or an all-zero version. At most 15 characters.
void formatVersionText(const FileVersion& version, char (&text)[16]);

inline const char* debugMark(const FileVersion& version) { return version.debug ? "(Debug)" : ""; }
