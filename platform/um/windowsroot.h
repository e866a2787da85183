// The virtual Windows root: a host directory that holds what an installed
// Windows keeps, so that separate processes (a registration run, then a
// host) share it. It holds the registry (saved as text, loaded whole or
// not at all) and the drive C: tree, where Windows paths such as
// "C:\Windows\System32\drivers\x.sys" lie as host files (names in lower
// case, since Windows ignores case). Plain C++, for tests and tools; one
// root is open per process.
#pragma once

#include <optional>
#include <string>

namespace umsim {

class WindowsRoot {
public:
    // Opens the directory (creating it): loads its registry into the store,
    // replacing what was there, and maps Windows paths under it. A registry
    // file that does not read back whole leaves the store and the file as
    // they were; Opened() is then false and Error() says why.
    explicit WindowsRoot(const std::string& directory);
    // Unmaps Windows paths; does not save.
    ~WindowsRoot();
    WindowsRoot(const WindowsRoot&) = delete;
    WindowsRoot& operator=(const WindowsRoot&) = delete;

    bool Opened() const { return m_opened; }
    const std::string& Error() const { return m_error; }
    const std::string& Directory() const { return m_directory; }

    // Writes the registry store to the directory (replacing the file in one step).
    bool Save(std::string* error = nullptr) const;
    // Copies a host file to a Windows path ("C:\Windows\System32\drivers\x.sys"),
    // creating its folders.
    bool InstallFile(const std::string& hostFile, const std::string& windowsPath, std::string* error = nullptr) const;

    // The host file a Windows path names in the open root: an absolute path
    // on a drive ("C:\..."). nullopt when no root is open or the path is not
    // such a path (or climbs out with "..").
    static std::optional<std::string> HostPath(const std::string& windowsPath);

private:
    void Unmap();

    std::string m_directory;
    std::string m_error;
    bool m_opened = false;
};

}  // namespace umsim
