#include "um/kernel32/filepaths.h"

#include "um/textconversion.h"
#include "um/windowsroot.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace umsim {

std::optional<std::string> HostFilePath(const char* path)
{
    if (!path || !*path) return std::nullopt;
    if (path[0] == '/') {
        // Windows takes either separator; a program that joins a folder it
        // was given with '\' and a file name still names the host file.
        std::string host(path);
        std::replace(host.begin(), host.end(), '\\', '/');
        return host;
    }
    return WindowsRoot::HostPath(path);
}

RootPath ResolveRootPath(const char* path)
{
    namespace fs = std::filesystem;
    RootPath resolved;
    auto host = path ? WindowsRoot::HostPath(path) : std::nullopt;
    if (!host) return resolved;
    resolved.host = *host;
    std::error_code ec;
    auto status = fs::status(*host, ec);
    if (fs::is_directory(status)) resolved.state = PathState::Folder;
    else if (fs::exists(status)) resolved.state = PathState::File;
    else if (fs::is_directory(fs::path(*host).parent_path(), ec)) resolved.state = PathState::Missing;
    else resolved.state = PathState::NoParent;
    return resolved;
}

bool ReplaceHostFile(const std::string& from, const std::string& to, std::string* error)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::create_directories(fs::path(to).parent_path(), ec);
    const std::string staged = to + ".new";
    if (!ec) fs::copy_file(from, staged, fs::copy_options::overwrite_existing, ec);
    if (!ec) fs::rename(staged, to, ec);
    if (ec) {
        fs::remove(staged, ec);
        if (error) *error = from + " -> " + to + ": " + ec.message();
        return false;
    }
    return true;
}

std::optional<std::string> ReadTextFile(const std::string& hostPath, size_t maxBytes)
{
    std::ifstream in(hostPath, std::ios::binary | std::ios::ate);
    if (!in) return std::nullopt;
    auto end = in.tellg();
    if (end < 0 || uint64_t(end) > maxBytes) return std::nullopt;
    std::string bytes(size_t(end), '\0');
    in.seekg(0);
    if (!in.read(bytes.data(), std::streamsize(bytes.size()))) return std::nullopt;
    if (bytes.size() >= 2 && uint8_t(bytes[0]) == 0xFF && uint8_t(bytes[1]) == 0xFE) {
        std::u16string wide;
        wide.reserve((bytes.size() - 2) / 2);
        for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
            char16_t c = char16_t(uint8_t(bytes[i]) | uint8_t(bytes[i + 1]) << 8);
            if (c == 0) break;
            wide.push_back(c);
        }
        return ToAnsi(wide);
    }
    if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
    if (size_t nul = bytes.find('\0'); nul != std::string::npos) bytes.resize(nul);
    return bytes;
}

}  // namespace umsim
