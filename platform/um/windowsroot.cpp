// The virtual Windows root: the registry through the store's own text file,
// files under "<root>/<drive letter>/...".
#include "um/windowsroot.h"

#include "um/kernel32/filepaths.h"

#include "um/advapi32/registrykey.h"
#include "um/bridge/kernelbridge.h"
#include "um/setupapi/systeminfs.h"

#include <cctype>
#include <filesystem>
#include <mutex>
#include <system_error>

namespace umsim {
namespace {

struct OpenRoot {
    std::mutex mutex;
    std::string directory;  // empty when none is open; guarded by mutex
};

OpenRoot& TheOpenRoot()
{
    static OpenRoot* root = new OpenRoot;
    return *root;
}

}  // namespace

WindowsRoot::WindowsRoot(const std::string& directory) : m_directory(directory)
{
    std::error_code ec;
    std::filesystem::create_directories(directory, ec);
    if (ec) {
        m_error = directory + ": " + ec.message();
        return;
    }
    if (!bridge::RegistryLoad(directory, &m_error)) return;
    // Keys every Windows installation has, so that an installer's first
    // run in a fresh root finds what it opens as parents.
    for (std::string key : {std::string("\\Registry\\Machine\\Software\\Classes\\CLSID"),
                            std::string("\\Registry\\Machine\\System\\CurrentControlSet\\Control\\CoDeviceInstallers"),
                            std::string(kCurrentUserHive) + "\\Software"}) {
        if (!bridge::RegistryKeyExists(key)) bridge::RegistryCreateKey(key);
    }
    {
        OpenRoot& root = TheOpenRoot();
        std::lock_guard lock(root.mutex);
        root.directory = directory;
    }
    m_opened = true;
    // Files every Windows installation has: the system's own drivers.
    if (!InstallSystemInfs(&m_error)) Unmap();
}

WindowsRoot::~WindowsRoot() { Unmap(); }

void WindowsRoot::Unmap()
{
    if (!m_opened) return;
    m_opened = false;
    OpenRoot& root = TheOpenRoot();
    std::lock_guard lock(root.mutex);
    if (root.directory == m_directory) root.directory.clear();
}

bool WindowsRoot::Save(std::string* error) const
{
    std::string why;
    bool saved = m_opened ? bridge::RegistrySave(m_directory, &why) : (why = "the root is not open", false);
    if (!saved && error) *error = why;
    return saved;
}

bool WindowsRoot::InstallFile(const std::string& hostFile, const std::string& windowsPath, std::string* error) const
{
    auto fail = [&](std::string why) {
        if (error) *error = std::move(why);
        return false;
    };
    auto target = HostPath(windowsPath);
    if (!m_opened || !target) return fail(windowsPath + ": not a Windows path in an open root");
    return ReplaceHostFile(hostFile, *target, error);
}

std::optional<std::string> WindowsRoot::HostPath(const std::string& windowsPath)
{
    if (windowsPath.size() < 3 || !isalpha(uint8_t(windowsPath[0])) || windowsPath[1] != ':' ||
        (windowsPath[2] != '\\' && windowsPath[2] != '/')) {
        return std::nullopt;
    }
    std::string directory;
    {
        OpenRoot& root = TheOpenRoot();
        std::lock_guard lock(root.mutex);
        directory = root.directory;
    }
    if (directory.empty()) return std::nullopt;
    std::string path = directory + "/" + char(tolower(uint8_t(windowsPath[0])));
    size_t start = 3;
    while (start <= windowsPath.size()) {
        size_t end = windowsPath.find_first_of("\\/", start);
        if (end == std::string::npos) end = windowsPath.size();
        std::string part = windowsPath.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == ".") continue;
        if (part == "..") return std::nullopt;
        for (char& c : part) c = char(tolower(uint8_t(c)));
        path += "/" + part;
    }
    return path;
}

}  // namespace umsim
