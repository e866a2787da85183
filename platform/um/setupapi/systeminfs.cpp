#include "um/setupapi/systeminfs.h"

#include "um/kernel32/filepaths.h"

#include <filesystem>
#include <fstream>

namespace umsim {

bool InstallSystemInfs(std::string* error)
{
    auto folder = HostFilePath(kInfDirectory);
    std::error_code ec;
    if (folder) std::filesystem::create_directories(*folder, ec);
    if (!folder || ec) {
        *error = std::string(kInfDirectory) + ": " + (folder ? ec.message() : "no Windows root is open");
        return false;
    }
    for (size_t i = 0; i < kSystemInfCount; ++i) {
        std::string path = *folder + "/" + kSystemInfs[i].fileName;
        if (std::filesystem::exists(path, ec)) continue;
        std::ofstream out(path, std::ios::binary);
        out << kSystemInfs[i].text;
        if (!out) {
            *error = path + ": not written";
            return false;
        }
    }
    return true;
}

}  // namespace umsim
