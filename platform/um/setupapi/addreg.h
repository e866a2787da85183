// The AddReg directive of an INF install section: each registry section it
// names holds lines "root,[subkey],[value name],[flags],[value...]".
#pragma once

#include <windows.h>
#include <setupapi.h>

#include <string>

namespace umsim {

// Applies the registry sections named by the section's AddReg lines, HKR
// standing for `relativeRoot` (the key the section kind installs into;
// NULL where HKR has no meaning). ERROR_SECTION_NOT_FOUND for a named
// section that is missing, ERROR_INVALID_DATA for a line that does not
// read, the registry's error for a write that fails; lines before the
// failing one stay written, as on Windows.
DWORD ApplyAddReg(HINF inf, const std::string& installSection, HKEY relativeRoot);

}  // namespace umsim
