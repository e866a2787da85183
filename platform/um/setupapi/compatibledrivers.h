// Compatible drivers of a device: one node per models line of an INF file
// that names one of the device's hardware or compatible ids, ranked as
// Windows ranks them (lower is better).
#pragma once

#include <windows.h>
#include <setupapi.h>

#include <functional>
#include <string>
#include <vector>

namespace umsim {

struct DriverNode {
    std::string infPath;         // as the list was given it ("C:\Windows\INF\oem0.inf")
    std::string installSection;  // undecorated, as the models line names it
    std::string description;
    std::string manufacturer;
    std::string provider;
    std::string classGuid;  // "{...}" from [Version]
    std::string className;
    std::vector<std::string> ids;  // the line's hardware id, then its compatible ids
    std::string matchingId;        // the device id that matched
    FILETIME date{};
    DWORDLONG version = 0;
    DWORD rank = 0;
    DWORD flags = 0;  // DNF_*
};

// The INF files of a folder, by their paths in it.
std::vector<std::string> InfFiles(const std::string& folder);
// The INF files of the system's INF folder (store packages and system INFs).
std::vector<std::string> InfFolderFiles();

// The driver nodes of the INF files for a device with these ids, in file
// and line order. INF files that do not open are skipped.
std::vector<DriverNode> CompatibleDrivers(const std::vector<std::string>& hardwareIds,
                                          const std::vector<std::string>& compatibleIds,
                                          const std::vector<std::string>& infPaths);

// A system INF: one of the INF folder's own, not a stored package. Its
// files ship with Windows and are in place already.
bool IsSystemInf(const std::string& infPath);

// The folder a package's files are copied from: a stored package's
// recorded source, else the INF's own folder.
std::string PackageSourceFolder(const std::string& infPath);

// A file of a folder, a Windows folder or a host folder.
std::string PathIn(const std::string& folder, const std::string& file);

// An INF text field of the line (ANSI, substitutions done); "" when absent.
std::string InfField(INFCONTEXT* context, DWORD index);
// Calls `use` with each section name that the install section's `directive`
// lines list (CopyFiles=a,b), in order; stops at the first error it returns.
DWORD ForEachDirectiveSection(HINF inf, const std::string& installSection, const char* directive,
                              const std::function<DWORD(const std::string&)>& use);
// The section to use for a base name on this architecture: base.NTamd64
// (or .NTx86), else base.NT, else base itself; "" when none exists.
std::string DecoratedSection(HINF inf, const std::string& base);

}  // namespace umsim
