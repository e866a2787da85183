// Reading an image file's version information.
#pragma once

#include "versiontext.h"

#include <windows.h>

// The file's fixed version information; all zero when it cannot be read.
FileVersion readFileVersion(LPCSTR path);
