// LoadLibraryA, GetProcAddress, FreeLibrary. "ksuser.dll" is built in; any
// other name is looked up as a host shared library: "x.dll" as "libx.so"
// or "x.so" beside the program or on the library path, or as given.
// Every successful load returns a handle of its own.
#include "um/modules.h"

#include "um/handletable.h"

#include <ks.h>

#include <dlfcn.h>
#include <strings.h>

#include <map>
#include <set>
#include <vector>

DWORD WINAPI KsCreatePin(HANDLE FilterHandle, PKSPIN_CONNECT Connect, ACCESS_MASK DesiredAccess,
                         PHANDLE ConnectionHandle);

namespace umsim {
namespace {

class ModuleObject : public HandleObject {
public:
    ModuleObject(void* library, std::map<std::string, FARPROC> exports)
        : HandleObject(ObjectKind::Module), m_library(library), m_exports(std::move(exports))
    {
    }
    ~ModuleObject() override
    {
        if (m_library) dlclose(m_library);
    }
    FARPROC Find(const char* name) const
    {
        if (m_library) return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(dlsym(m_library, name)));
        auto it = m_exports.find(name);
        return it == m_exports.end() ? nullptr : it->second;
    }

private:
    void* m_library;
    std::map<std::string, FARPROC> m_exports;
};

struct Unavailable {
    std::mutex mutex;
    std::set<std::string> names;  // lower case
};

Unavailable& TheUnavailable()
{
    static Unavailable* unavailable = new Unavailable;
    return *unavailable;
}

std::string Lower(std::string text)
{
    for (char& c : text) c = char(tolower(uint8_t(c)));
    return text;
}

bool IsAvailable(const std::string& lowerName)
{
    Unavailable& u = TheUnavailable();
    std::lock_guard lock(u.mutex);
    return !u.names.count(lowerName);
}

std::vector<std::string> HostCandidates(const std::string& name)
{
    std::vector<std::string> candidates;
    std::string directory, file = name;
    size_t slash = name.find_last_of("/\\");
    if (slash != std::string::npos) {
        directory = name.substr(0, slash + 1);
        for (char& c : directory) c = c == '\\' ? '/' : c;
        file = name.substr(slash + 1);
    }
    std::string stem = file;
    if (stem.size() > 4 && strcasecmp(stem.c_str() + stem.size() - 4, ".dll") == 0) {
        stem.resize(stem.size() - 4);
        candidates.push_back(directory + "lib" + stem + ".so");
        candidates.push_back(directory + stem + ".so");
    }
    candidates.push_back(directory + file);
    return candidates;
}

}  // namespace

void SetSystemModuleAvailable(const std::string& name, bool available)
{
    Unavailable& u = TheUnavailable();
    std::lock_guard lock(u.mutex);
    if (available) {
        u.names.erase(Lower(name));
    } else {
        u.names.insert(Lower(name));
    }
}

}  // namespace umsim

HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName)
{
    if (!lpLibFileName || !*lpLibFileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return NULL;
    }
    std::string name = umsim::Lower(lpLibFileName);
    if (name == "ksuser.dll" || name == "ksuser") {
        if (!umsim::IsAvailable("ksuser.dll")) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return NULL;
        }
        std::map<std::string, FARPROC> exports{{"KsCreatePin", reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&KsCreatePin))}};
        SetLastError(ERROR_SUCCESS);
        return reinterpret_cast<HMODULE>(umsim::InsertHandle(std::make_shared<umsim::ModuleObject>(nullptr, exports)));
    }
    if (!umsim::IsAvailable(name)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return NULL;
    }
    for (const std::string& candidate : umsim::HostCandidates(lpLibFileName)) {
        if (void* library = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL)) {
            SetLastError(ERROR_SUCCESS);
            return reinterpret_cast<HMODULE>(
                umsim::InsertHandle(std::make_shared<umsim::ModuleObject>(library, std::map<std::string, FARPROC>{})));
        }
    }
    SetLastError(ERROR_MOD_NOT_FOUND);
    return NULL;
}

FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName)
{
    auto module = umsim::LookupHandleOf<umsim::ModuleObject>(reinterpret_cast<HANDLE>(hModule),
                                                             umsim::ObjectKind::Module, "GetProcAddress");
    if (!module) return nullptr;
    // Lookup by ordinal (a value below 0x10000 in place of the name) is not offered.
    if (!lpProcName || reinterpret_cast<uintptr_t>(lpProcName) < 0x10000) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    FARPROC proc = module->Find(lpProcName);
    if (!proc) SetLastError(ERROR_PROC_NOT_FOUND);
    return proc;
}

BOOL WINAPI FreeLibrary(HMODULE hLibModule)
{
    HANDLE handle = reinterpret_cast<HANDLE>(hLibModule);
    if (!umsim::LookupHandleOf<umsim::ModuleObject>(handle, umsim::ObjectKind::Module, "FreeLibrary")) return FALSE;
    umsim::RemoveHandle(handle, "FreeLibrary");
    return TRUE;
}
