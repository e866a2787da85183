// CoGetClassObject, CoCreateInstance and CoFreeUnusedLibraries for
// in-process servers: HKEY_CLASSES_ROOT\CLSID\{...}\InprocServer32 names the
// module, loaded with LoadLibraryA; COM keeps one reference to each module
// it loaded until DllCanUnloadNow lets it go.
#include "um/ole32/comstate.h"

#include "um/bridge/kernelbridge.h"

#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace umsim {
namespace {

typedef HRESULT(STDAPICALLTYPE* DllGetClassObjectRoutine)(REFCLSID, REFIID, LPVOID*);
typedef HRESULT(STDAPICALLTYPE* DllCanUnloadNowRoutine)(void);

std::mutex g_librariesMutex;
std::set<HMODULE> g_libraries;  // loaded by COM; guarded by g_librariesMutex

template <class Routine>
Routine Export(HMODULE module, const char* name)
{
    return reinterpret_cast<Routine>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// The server module's path, or nullopt when the class is not registered.
std::optional<std::string> InprocServerPath(REFCLSID rclsid)
{
    HKEY key = NULL;
    std::string path = "CLSID\\" + GuidText(rclsid) + "\\InprocServer32";
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return std::nullopt;
    std::vector<char> value(MAX_PATH + 1);
    DWORD size = DWORD(value.size() - 1), type = 0;
    LONG status = RegQueryValueExA(key, NULL, NULL, &type, reinterpret_cast<BYTE*>(value.data()), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ) || size == 0) return std::nullopt;
    // The value may be stored with or without its terminator.
    return std::string(value.data(), strnlen(value.data(), size));
}

// Frees the modules whose DllCanUnloadNow agrees; returns those that refused.
std::vector<HMODULE> FreeUnused()
{
    std::lock_guard lock(g_librariesMutex);
    std::vector<HMODULE> refused;
    for (auto it = g_libraries.begin(); it != g_libraries.end();) {
        auto canUnload = Export<DllCanUnloadNowRoutine>(*it, "DllCanUnloadNow");
        if (canUnload && canUnload() == S_OK) {
            FreeLibrary(*it);
            it = g_libraries.erase(it);
        } else {
            refused.push_back(*it);
            ++it;
        }
    }
    return refused;
}

}  // namespace

void FreeComLibrariesAtUninitialize()
{
    // Windows unloads every server here; one still in use means objects
    // outlive COM, which is the host's fault. Those stay loaded, reported.
    for (HMODULE module : FreeUnused()) {
        char path[MAX_PATH] = "?";
        GetModuleFileNameA(module, path, sizeof path);
        bridge::ReportViolation("com", std::string("CoUninitialize: ") + path + " still has live objects");
    }
}

}  // namespace umsim

HRESULT WINAPI CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, LPVOID pvReserved, REFIID riid, LPVOID* ppv)
{
    UNREFERENCED_PARAMETER(pvReserved);
    if (!ppv) return E_INVALIDARG;
    *ppv = NULL;
    if (!umsim::ComInitializedOnThisThread()) return CO_E_NOTINITIALIZED;
    if (!(dwClsContext & CLSCTX_INPROC_SERVER)) return REGDB_E_CLASSNOTREG;  // only in-process servers here
    auto path = umsim::InprocServerPath(rclsid);
    if (!path) return REGDB_E_CLASSNOTREG;
    HMODULE module = LoadLibraryA(path->c_str());
    if (!module) return HRESULT_FROM_WIN32(GetLastError());
    auto getClassObject = umsim::Export<umsim::DllGetClassObjectRoutine>(module, "DllGetClassObject");
    if (!getClassObject) {
        FreeLibrary(module);
        return CO_E_ERRORINDLL;
    }
    {
        std::lock_guard lock(umsim::g_librariesMutex);
        // COM holds one reference per module.
        if (!umsim::g_libraries.insert(module).second) FreeLibrary(module);
    }
    HRESULT hr = getClassObject(rclsid, riid, ppv);
    if (FAILED(hr)) *ppv = NULL;
    return hr;
}

HRESULT WINAPI CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext, REFIID riid, LPVOID* ppv)
{
    if (!ppv) return E_POINTER;
    *ppv = NULL;
    IClassFactory* factory = nullptr;
    HRESULT hr = CoGetClassObject(rclsid, dwClsContext, NULL, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(hr)) return hr;
    hr = factory->CreateInstance(pUnkOuter, riid, ppv);
    factory->Release();
    if (FAILED(hr)) *ppv = NULL;
    return hr;
}

void WINAPI CoFreeUnusedLibraries(void) { umsim::FreeUnused(); }
