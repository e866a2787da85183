// Where the file functions find a path's file on the host. A drive path
// ("C:\Windows\INF\x.inf") lies in the open virtual Windows root; an
// absolute host path ("/build/package/x.inf") names itself, so tests and
// tools can point the Windows functions at a package folder in the build
// tree. Anything else (relative paths, UNC names) is not a file here.
#pragma once

#include <optional>
#include <string>

namespace umsim {

constexpr char kWindowsDirectory[] = "C:\\Windows";
constexpr char kInfDirectory[] = "C:\\Windows\\INF";

std::optional<std::string> HostFilePath(const char* path);

// What a path in the open virtual Windows root names, for the functions
// that create and delete there (never a host path outside the root).
enum class PathState { OutsideRoot, NoParent, Missing, File, Folder };
struct RootPath {
    PathState state = PathState::OutsideRoot;
    std::string host;  // the host file, unless OutsideRoot
};
RootPath ResolveRootPath(const char* path);

// The file's text as the A functions see it: an ANSI file as it is, a
// UTF-16LE file (with its byte-order mark) converted to the ANSI code
// page, a UTF-8 byte-order mark dropped, and the text cut at a NUL as
// Windows' text readers stop there. nullopt when the file cannot be read
// or is larger than maxBytes.
// Copies a host file over another (creating its folders) by writing a new
// file and renaming it into place: a module still mapped from the old file
// keeps its image, as Windows keeps a loaded image's file.
bool ReplaceHostFile(const std::string& from, const std::string& to, std::string* error = nullptr);

std::optional<std::string> ReadTextFile(const std::string& hostPath, size_t maxBytes);

}  // namespace umsim
