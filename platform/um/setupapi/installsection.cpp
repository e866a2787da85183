// The directives every kind of install section shares: Include/Needs,
// CopyFiles and AddReg.
#include "um/setupapi/installsection.h"

#include "um/kernel32/filepaths.h"
#include "um/setupapi/addreg.h"
#include "um/setupapi/compatibledrivers.h"

#include <vector>

namespace umsim {
namespace {

// The Windows folder of a directory id.
std::string DirectoryOf(int id)
{
    switch (id) {
    case 10: return kWindowsDirectory;
    case 11: return std::string(kWindowsDirectory) + "\\System32";
    case 12: return std::string(kWindowsDirectory) + "\\System32\\drivers";
    default: return {};
    }
}

std::string DestinationOf(HINF inf, const std::string& fileList)
{
    INFCONTEXT context;
    if (!SetupFindFirstLineA(inf, "DestinationDirs", fileList.c_str(), &context) &&
        !SetupFindFirstLineA(inf, "DestinationDirs", "DefaultDestDir", &context)) {
        return {};
    }
    INT id = 0;
    if (!SetupGetIntField(&context, 1, &id)) return {};
    std::string folder = DirectoryOf(id);
    std::string subfolder = InfField(&context, 2);
    if (!folder.empty() && !subfolder.empty()) folder += "\\" + subfolder;
    return folder;
}

DWORD CopyOne(const std::string& source, const std::string& target)
{
    auto from = HostFilePath(source.c_str());
    auto to = HostFilePath(target.c_str());
    if (!from || !to) return ERROR_PATH_NOT_FOUND;
    return ReplaceHostFile(*from, *to) ? DWORD(ERROR_SUCCESS) : DWORD(ERROR_FILE_NOT_FOUND);
}

// CopyFiles of the install section: file-list sections (each line
// "target[,source]") into their DestinationDirs folder, or "@file".
DWORD CopyFiles(HINF inf, const std::string& section, const std::string& sourceFolder)
{
    return ForEachDirectiveSection(inf, section, "CopyFiles", [&](const std::string& list) -> DWORD {
        std::string folder = DestinationOf(inf, list[0] == '@' ? "DefaultDestDir" : list);
        if (folder.empty()) return ERROR_INVALID_DATA;
        if (list[0] == '@') return CopyOne(PathIn(sourceFolder, list.substr(1)), folder + "\\" + list.substr(1));
        LONG lines = SetupGetLineCountA(inf, list.c_str());
        for (LONG l = 0; l < lines; ++l) {
            INFCONTEXT line;
            if (!SetupGetLineByIndexA(inf, list.c_str(), DWORD(l), &line)) continue;
            std::string target = InfField(&line, 1);
            std::string source = InfField(&line, 2);
            if (target.empty()) continue;
            if (source.empty()) source = target;
            if (DWORD error = CopyOne(PathIn(sourceFolder, source), folder + "\\" + target)) return error;
        }
        return ERROR_SUCCESS;
    });
}

// The section's own directives, without Include/Needs: a needed section's
// own needs are not followed, as on Windows.
DWORD RunDirectives(HINF inf, const std::string& infPath, const std::string& section, HKEY relativeRoot)
{
    if (!IsSystemInf(infPath)) {
        if (DWORD error = CopyFiles(inf, section, PackageSourceFolder(infPath))) return error;
    }
    return ApplyAddReg(inf, section, relativeRoot);
}

struct OpenInf {
    std::string path;
    HINF handle;
};

// The INF files the section Includes, from the INF folder; one that does
// not open is left out, so a section needed from it is not found.
std::vector<OpenInf> IncludedInfs(HINF inf, const std::string& section)
{
    std::vector<OpenInf> included;
    ForEachDirectiveSection(inf, section, "Include", [&](const std::string& name) -> DWORD {
        std::string path = std::string(kInfDirectory) + "\\" + name;
        HINF handle = SetupOpenInfFileA(path.c_str(), NULL, INF_STYLE_WIN4, NULL);
        if (handle != INVALID_HANDLE_VALUE) included.push_back({path, handle});
        return ERROR_SUCCESS;
    });
    return included;
}

}  // namespace

DWORD RunInstallSection(HINF inf, const std::string& infPath, const std::string& section, HKEY relativeRoot)
{
    if (SetupGetLineCountA(inf, section.c_str()) < 0) return ERROR_SECTION_NOT_FOUND;
    std::vector<OpenInf> files = IncludedInfs(inf, section);
    files.insert(files.begin(), {infPath, inf});
    DWORD error = ForEachDirectiveSection(inf, section, "Needs", [&](const std::string& needed) -> DWORD {
        for (const OpenInf& file : files) {
            if (SetupGetLineCountA(file.handle, needed.c_str()) >= 0) {
                return RunDirectives(file.handle, file.path, needed, relativeRoot);
            }
        }
        return ERROR_SECTION_NOT_FOUND;
    });
    for (size_t i = 1; i < files.size(); ++i) SetupCloseInfFile(files[i].handle);
    return error ? error : RunDirectives(inf, infPath, section, relativeRoot);
}

}  // namespace umsim
