#include "versiontext.h"

#include <stdio.h>
#include <string.h>

void formatVersionText(const FileVersion& version, char (&text)[16])
{
    const char* suffix = nullptr;
    switch (version.stage) {
    case 0: suffix = "dev"; break;
    case 32: suffix = "a"; break;
    case 64: suffix = "b"; break;
    case 96: suffix = "fc"; break;
    case 128: suffix = "."; break;
    }
    const int major = int16_t(version.major), minor = int16_t(version.minor), stage = int16_t(version.stage),
              build = int16_t(version.build);
    // Four signed 16-bit numbers fit in 32 characters; the shown text is cut.
    char full[32];
    if (suffix && (major || minor || build)) {
        snprintf(full, sizeof full, "%d.%d%s%d", major, minor, suffix, build);
    } else {
        snprintf(full, sizeof full, "%d.%d.%d.%d", major, minor, stage, build);
    }
    full[sizeof text - 1] = '\0';
    memcpy(text, full, sizeof text);
}
