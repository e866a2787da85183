// The version of an image file as the About box shows it. A pure routine:
// no Windows calls.
#pragma once

#include <cstdint>

struct FileVersion {
    uint16_t major, minor, stage, build;
    bool debug;  // VS_FF_DEBUG set in both the flags and their mask
};

// "1.5.4" for 1.5.128.4, "2.0b3" for 2.0.64.3; four numbers for an unknown
// stage or an all-zero version. At most 15 characters.
void formatVersionText(const FileVersion& version, char (&text)[16]);

inline const char* debugMark(const FileVersion& version) { return version.debug ? "(Debug)" : ""; }
