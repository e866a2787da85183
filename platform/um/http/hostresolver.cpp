#include "um/http/hostresolver.h"

#include "um/kernel32/filepaths.h"
#include "um/network.h"
#include "um/textconversion.h"
#include "um/windowsroot.h"

#include <arpa/inet.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace umsim {
namespace {

constexpr size_t kMaxHostsFileBytes = 1 << 20;

bool IsNumericAddress(const std::string& text)
{
    unsigned char address[16];
    return inet_pton(AF_INET, text.c_str(), address) == 1 || inet_pton(AF_INET6, text.c_str(), address) == 1;
}

// Lines of "address name [name...]", '#' to the end of a line a comment;
// names without case, the first line naming it wins.
std::optional<std::string> LookUpHostsFile(const std::string& name)
{
    auto path = WindowsRoot::HostPath(kHostsFilePath);
    if (!path) return std::nullopt;
    auto text = ReadTextFile(*path, kMaxHostsFileBytes);
    if (!text) return std::nullopt;
    std::istringstream lines(*text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line.substr(0, line.find('#')));
        std::string address, alias;
        if (!(words >> address) || !IsNumericAddress(address)) continue;
        while (words >> alias)
            if (EqualsNoCase(alias, name)) return address;
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> ResolveHostName(const std::string& name)
{
    if (auto address = LookUpHostsFile(name)) return address;
    if (EqualsNoCase(name, "localhost")) return std::string("127.0.0.1");
    if (IsNumericAddress(name)) return name;
    return std::nullopt;
}

bool AddHostsEntry(const std::string& address, const std::string& name)
{
    auto path = WindowsRoot::HostPath(kHostsFilePath);
    if (!path) return false;
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(*path).parent_path(), error);
    std::ofstream file(*path, std::ios::binary | std::ios::app);
    file << address << ' ' << name << "\r\n";
    return bool(file.flush());
}

}  // namespace umsim
