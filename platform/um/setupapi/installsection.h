// Running an INF install section as Windows' installer runs it: first the
// sections it Needs from the INF files it Includes, then its own CopyFiles
// and AddReg.
#pragma once

#include <windows.h>
#include <setupapi.h>

#include <string>

namespace umsim {

// `infPath` is where `inf` was opened from: a system INF's files ship with
// Windows, a package's are copied from its source. HKR in AddReg stands for
// `relativeRoot`. ERROR_SECTION_NOT_FOUND when the section, or a section
// it needs, is in none of the files.
DWORD RunInstallSection(HINF inf, const std::string& infPath, const std::string& section, HKEY relativeRoot);

}  // namespace umsim
