// SetupGetInfFileListA: the names of a folder's INF files of a style, as
// a list of NUL-terminated names ending with an empty one.
#include "um/kernel32/filepaths.h"
#include "um/setupapi/inffile.h"

#include <algorithm>
#include <filesystem>

BOOL WINAPI SetupGetInfFileListA(PCSTR DirectoryPath, DWORD InfStyle, PSTR ReturnBuffer, DWORD ReturnBufferSize,
                                 PDWORD RequiredSize)
{
    auto directory = umsim::HostFilePath(DirectoryPath ? DirectoryPath : umsim::kInfDirectory);
    std::error_code ec;
    if (!directory || !std::filesystem::is_directory(*directory, ec)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(*directory, ec)) {
        std::string name = entry.path().filename().string();
        if (name.size() < 5 || !umsim::EqualsNoCase(name.substr(name.size() - 4), ".inf")) continue;
        HINF inf = SetupOpenInfFileA(entry.path().string().c_str(), NULL, InfStyle, NULL);
        if (inf == INVALID_HANDLE_VALUE) continue;
        SetupCloseInfFile(inf);
        names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    std::string list;
    for (const std::string& name : names) list += name + '\0';
    list.push_back('\0');
    if (names.empty()) list.push_back('\0');
    return umsim::CopyInfString(list, ReturnBuffer, ReturnBufferSize, RequiredSize);
}
