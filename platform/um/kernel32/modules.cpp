// LoadLibraryA, FreeLibrary, GetProcAddress, GetModuleHandleA,
// GetModuleFileNameA. A module handle is the module's load address, as on
// Windows. Built-in system modules ("kernel32", "ksuser.dll") stand for
// Windows' own; any other name is a host shared library: "x.dll" as
// "libx.so" or "x.so" beside the program or on the library path, or as given.
// A module installed in the open virtual Windows root is found there by its
// Windows path, or by its bare name in the system directory, and reports
// that Windows path as its file name, as a module on Windows does.
// Loading a module again counts a reference; DllMain (found by name) sees
// DLL_PROCESS_ATTACH at the first load and DLL_PROCESS_DETACH at the last free.
#include "um/modules.h"

#include "um/bridge/kernelbridge.h"
#include "um/windowsroot.h"

#include <ks.h>

#include <dlfcn.h>
#include <link.h>
#include <strings.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <vector>

DWORD WINAPI KsCreatePin(HANDLE FilterHandle, PKSPIN_CONNECT Connect, ACCESS_MASK DesiredAccess,
                         PHANDLE ConnectionHandle);

namespace umsim {
namespace {

template <class F>
FARPROC Proc(F* function)
{
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}

struct BuiltinModule {
    const char* fileName;  // lower case, as found in the system directory
    std::map<std::string, FARPROC> exports;
    bool resident;  // loaded with every process, as kernel32 is
    char image = 0;  // its address is the module handle
};

std::vector<BuiltinModule>& Builtins()
{
    static auto* builtins = new std::vector<BuiltinModule>{
        {"kernel32.dll",
         {{"IsWow64Process", Proc(&IsWow64Process)},
          {"Wow64DisableWow64FsRedirection", Proc(&Wow64DisableWow64FsRedirection)},
          {"Wow64RevertWow64FsRedirection", Proc(&Wow64RevertWow64FsRedirection)},
          {"GetModuleHandleA", Proc(&GetModuleHandleA)},
          {"GetProcAddress", Proc(&GetProcAddress)}},
         true},
        {"ksuser.dll", {{"KsCreatePin", Proc(&KsCreatePin)}}, false},
    };
    return *builtins;
}

struct LoadedModule {
    void* library = nullptr;          // dlopen handle; null for a built-in
    const BuiltinModule* builtin = nullptr;
    std::string path;                 // host path, or the built-in's Windows path
    unsigned references = 0;
};

// The loader lock: held while DllMain runs, as on Windows, so a DllMain
// may load other modules on its own thread (hence recursive).
struct Loader {
    std::recursive_mutex mutex;
    std::map<uintptr_t, LoadedModule> modules;  // by module handle; guarded by mutex
    std::set<std::string> unavailable;          // lower-case names; guarded by mutex
    // Modules freed to their last reference. The host's loader may keep an
    // image mapped after dlclose (sanitizer runtimes do); Windows would have
    // unmapped it, so it is no longer found. Guarded by mutex.
    std::set<uintptr_t> unloaded;
};

Loader& TheLoader()
{
    static Loader* loader = new Loader;
    return *loader;
}

std::string Lower(std::string text)
{
    for (char& c : text) c = char(tolower(uint8_t(c)));
    return text;
}

std::string BaseName(const std::string& path)
{
    size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The built-in a name means: "kernel32", "KERNEL32.DLL", or its full
// Windows path in the system directory.
BuiltinModule* BuiltinNamed(const std::string& name)
{
    std::string file = Lower(BaseName(name));
    if (file.find('.') == std::string::npos) file += ".dll";
    bool pathOk = BaseName(name) == name || Lower(name) == Lower(std::string(kSystemDirectory) + "\\" + file);
    for (BuiltinModule& builtin : Builtins()) {
        if (pathOk && file == builtin.fileName) return &builtin;
    }
    return nullptr;
}

// A file a module name may mean: its host path, and the Windows path the
// module then reports (empty: the host path).
struct Candidate {
    std::string host;
    std::string windowsPath;
};

std::vector<Candidate> HostCandidates(const std::string& name)
{
    std::vector<Candidate> candidates;
    std::string windowsPath = name.find_first_of("/\\") == std::string::npos
                                  ? std::string(kSystemDirectory) + "\\" + name
                                  : name;
    if (auto host = WindowsRoot::HostPath(windowsPath); host && access(host->c_str(), F_OK) == 0) {
        candidates.push_back({*host, windowsPath});
    }
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
        candidates.push_back({directory + "lib" + stem + ".so", {}});
        candidates.push_back({directory + stem + ".so", {}});
    }
    candidates.push_back({directory + file, {}});
    return candidates;
}

uintptr_t BaseOf(const void* address)
{
    Dl_info info{};
    return address && dladdr(address, &info) ? reinterpret_cast<uintptr_t>(info.dli_fbase) : 0;
}

std::string PathOfLibrary(void* library)
{
    link_map* map = nullptr;
    if (dlinfo(library, RTLD_DI_LINKMAP, &map) != 0 || !map || !map->l_name || !*map->l_name) return {};
    return map->l_name;
}

uintptr_t BaseOfLibrary(void* library)
{
    link_map* map = nullptr;
    if (dlinfo(library, RTLD_DI_LINKMAP, &map) != 0 || !map) return 0;
    return BaseOf(map->l_ld);
}

// An export of the module itself, not of a library it depends on.
FARPROC FindExport(const LoadedModule& module, uintptr_t base, const char* name)
{
    if (module.builtin) {
        auto it = module.builtin->exports.find(name);
        return it == module.builtin->exports.end() ? nullptr : it->second;
    }
    void* symbol = dlsym(module.library, name);
    return symbol && BaseOf(symbol) == base ? reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(symbol)) : nullptr;
}

typedef BOOL(WINAPI* DllMainRoutine)(HINSTANCE, DWORD, LPVOID);

BOOL CallDllMain(const LoadedModule& module, uintptr_t base, DWORD reason)
{
    FARPROC entry = module.library ? FindExport(module, base, "DllMain") : nullptr;
    if (!entry) return TRUE;
    return reinterpret_cast<DllMainRoutine>(reinterpret_cast<void (*)()>(entry))(reinterpret_cast<HINSTANCE>(base),
                                                                                 reason, nullptr);
}

void Unload(Loader& loader, std::map<uintptr_t, LoadedModule>::iterator it)
{
    if (it->second.library) dlclose(it->second.library);
    loader.unloaded.insert(it->first);
    loader.modules.erase(it);
}

HMODULE Reference(Loader& loader, uintptr_t base, LoadedModule module)
{
    loader.unloaded.erase(base);
    auto [it, inserted] = loader.modules.try_emplace(base, std::move(module));
    if (!inserted && module.library) dlclose(module.library);  // already held once
    if (++it->second.references == 1 && !CallDllMain(it->second, base, DLL_PROCESS_ATTACH)) {
        // A failed attach is followed by a detach, and the load fails.
        CallDllMain(it->second, base, DLL_PROCESS_DETACH);
        Unload(loader, it);
        SetLastError(ERROR_DLL_INIT_FAILED);
        return NULL;
    }
    SetLastError(ERROR_SUCCESS);
    return reinterpret_cast<HMODULE>(base);
}

const LoadedModule* Lookup(Loader& loader, HMODULE module)
{
    auto it = loader.modules.find(reinterpret_cast<uintptr_t>(module));
    return it == loader.modules.end() ? nullptr : &it->second;
}

void EnsureResidentBuiltins(Loader& loader)
{
    for (const BuiltinModule& builtin : Builtins()) {
        uintptr_t base = reinterpret_cast<uintptr_t>(&builtin.image);
        if (builtin.resident && !loader.modules.count(base)) {
            loader.modules[base] = LoadedModule{nullptr, &builtin, std::string(kSystemDirectory) + "\\" + builtin.fileName, 1};
        }
    }
}

}  // namespace

void SetSystemModuleAvailable(const std::string& name, bool available)
{
    Loader& loader = TheLoader();
    std::lock_guard lock(loader.mutex);
    if (available) {
        loader.unavailable.erase(Lower(name));
    } else {
        loader.unavailable.insert(Lower(name));
    }
}

std::optional<std::string> LoadedModulePath(HMODULE module)
{
    Loader& loader = TheLoader();
    std::lock_guard lock(loader.mutex);
    EnsureResidentBuiltins(loader);
    if (const LoadedModule* loaded = Lookup(loader, module)) return loaded->path;
    if (loader.unloaded.count(reinterpret_cast<uintptr_t>(module))) return std::nullopt;
    return ModuleFilePath(module);
}

}  // namespace umsim

HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName)
{
    if (!lpLibFileName || !*lpLibFileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return NULL;
    }
    umsim::Loader& loader = umsim::TheLoader();
    std::lock_guard lock(loader.mutex);
    umsim::EnsureResidentBuiltins(loader);
    std::string name = lpLibFileName;
    if (loader.unavailable.count(umsim::Lower(name)) || loader.unavailable.count(umsim::Lower(umsim::BaseName(name)))) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return NULL;
    }
    if (const umsim::BuiltinModule* builtin = umsim::BuiltinNamed(name)) {
        uintptr_t base = reinterpret_cast<uintptr_t>(&builtin->image);
        return umsim::Reference(
            loader, base,
            umsim::LoadedModule{nullptr, builtin, std::string(umsim::kSystemDirectory) + "\\" + builtin->fileName, 0});
    }
    for (const umsim::Candidate& candidate : umsim::HostCandidates(name)) {
        void* library = dlopen(candidate.host.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!library) continue;
        uintptr_t base = umsim::BaseOfLibrary(library);
        std::string path = umsim::PathOfLibrary(library);
        if (!path.empty() && !candidate.windowsPath.empty()) path = candidate.windowsPath;
        if (!base || path.empty()) {
            // The program itself, or a library the loader cannot place.
            dlclose(library);
            continue;
        }
        return umsim::Reference(loader, base, umsim::LoadedModule{library, nullptr, path, 0});
    }
    SetLastError(ERROR_MOD_NOT_FOUND);
    return NULL;
}

FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName)
{
    umsim::Loader& loader = umsim::TheLoader();
    std::lock_guard lock(loader.mutex);
    umsim::EnsureResidentBuiltins(loader);
    // Lookup by ordinal (a value below 0x10000 in place of the name) is not offered.
    bool byName = lpProcName && !IS_INTRESOURCE(lpProcName);
    FARPROC proc = nullptr;
    if (const umsim::LoadedModule* module = umsim::Lookup(loader, hModule)) {
        if (byName) proc = umsim::FindExport(*module, reinterpret_cast<uintptr_t>(hModule), lpProcName);
    } else if (auto path = loader.unloaded.count(reinterpret_cast<uintptr_t>(hModule))
                               ? std::nullopt
                               : umsim::ModuleFilePath(hModule)) {
        // A module of the process that LoadLibraryA did not load (NULL: the program).
        uintptr_t base = hModule ? reinterpret_cast<uintptr_t>(hModule) : umsim::ProgramBase();
        void* library = dlopen(hModule ? path->c_str() : nullptr, RTLD_NOW | RTLD_NOLOAD);
        if (library && byName) proc = umsim::FindExport(umsim::LoadedModule{library, nullptr, *path, 0}, base, lpProcName);
        if (library) dlclose(library);
    } else {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    if (!proc) SetLastError(ERROR_PROC_NOT_FOUND);
    return proc;
}

BOOL WINAPI FreeLibrary(HMODULE hLibModule)
{
    umsim::Loader& loader = umsim::TheLoader();
    std::lock_guard lock(loader.mutex);
    auto it = loader.modules.find(reinterpret_cast<uintptr_t>(hLibModule));
    if (it == loader.modules.end() || it->second.references == 0) {
        char text[64];
        snprintf(text, sizeof text, "FreeLibrary(%p): ", static_cast<void*>(hLibModule));
        umsim::bridge::ReportViolation("handle", std::string(text) + "no module is loaded there");
        SetLastError(ERROR_MOD_NOT_FOUND);
        return FALSE;
    }
    if (--it->second.references == 0) {
        if (it->second.builtin && it->second.builtin->resident) {
            it->second.references = 1;  // never unloaded
        } else {
            umsim::CallDllMain(it->second, it->first, DLL_PROCESS_DETACH);
            umsim::Unload(loader, it);
        }
    }
    return TRUE;
}

HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName)
{
    umsim::Loader& loader = umsim::TheLoader();
    std::lock_guard lock(loader.mutex);
    umsim::EnsureResidentBuiltins(loader);
    if (!lpModuleName) return reinterpret_cast<HMODULE>(umsim::ProgramBase());
    std::string name = lpModuleName;
    if (const umsim::BuiltinModule* builtin = umsim::BuiltinNamed(name)) {
        uintptr_t base = reinterpret_cast<uintptr_t>(&builtin->image);
        if (loader.modules.count(base)) return reinterpret_cast<HMODULE>(base);
    }
    // A full path names the file; a bare name, any file of that name in the
    // process, loaded here or linked in.
    for (const umsim::Candidate& candidate : umsim::HostCandidates(name)) {
        uintptr_t base = umsim::ImageOfFile(candidate.host);
        if (base && !loader.unloaded.count(base)) return reinterpret_cast<HMODULE>(base);
    }
    SetLastError(ERROR_MOD_NOT_FOUND);
    return NULL;
}

DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize)
{
    auto path = umsim::LoadedModulePath(hModule);
    if (!path) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    if (!lpFilename && nSize) {
        SetLastError(ERROR_NOACCESS);
        return 0;
    }
    // Too small: cut to nSize - 1 characters and terminated, the result nSize.
    if (path->size() >= nSize) {
        if (nSize) {
            memcpy(lpFilename, path->data(), nSize - 1);
            lpFilename[nSize - 1] = 0;
        }
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return nSize;
    }
    memcpy(lpFilename, path->c_str(), path->size() + 1);
    SetLastError(ERROR_SUCCESS);
    return DWORD(path->size());
}
