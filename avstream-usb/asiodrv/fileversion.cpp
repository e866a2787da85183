#include "fileversion.h"

#include <winver.h>

#include <new>

namespace {

typedef BOOL(WINAPI* IsWow64ProcessRoutine)(HANDLE, PBOOL);
typedef BOOL(WINAPI* Wow64RedirectionRoutine)(PVOID*);

// GetProcAddress's answer as the routine's own type (through void*, the
// one cast the compiler accepts between unrelated function types).
template <class Routine>
Routine lookUp(HMODULE module, LPCSTR name)
{
    return reinterpret_cast<Routine>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// A 32-bit process on 64-bit Windows must see the real system directory,
// not its 32-bit stand-in. The calls are looked up by name because older
// systems lack them.
class Wow64RedirectionOff {
public:
    Wow64RedirectionOff()
    {
        HMODULE kernel = GetModuleHandleA("kernel32");
        if (!kernel) return;
        auto isWow64 = lookUp<IsWow64ProcessRoutine>(kernel, "IsWow64Process");
        BOOL wow64 = FALSE;
        if (!isWow64 || !isWow64(GetCurrentProcess(), &wow64) || !wow64) return;
        auto disable = lookUp<Wow64RedirectionRoutine>(kernel, "Wow64DisableWow64FsRedirection");
        m_revert = lookUp<Wow64RedirectionRoutine>(kernel, "Wow64RevertWow64FsRedirection");
        m_disabled = disable && m_revert && disable(&m_oldValue);
    }
    ~Wow64RedirectionOff()
    {
        if (m_disabled) m_revert(&m_oldValue);
    }
    Wow64RedirectionOff(const Wow64RedirectionOff&) = delete;
    Wow64RedirectionOff& operator=(const Wow64RedirectionOff&) = delete;

private:
    Wow64RedirectionRoutine m_revert = nullptr;
    PVOID m_oldValue = nullptr;
    bool m_disabled = false;
};

}  // namespace

FileVersion readFileVersion(LPCSTR path)
{
    FileVersion version = {};
    Wow64RedirectionOff redirectionOff;
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(path, &handle);
    if (size == 0) return version;
    BYTE* info = new (std::nothrow) BYTE[size];
    if (!info) return version;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedSize = 0;
    if (GetFileVersionInfoA(path, 0, size, info) &&
        VerQueryValueA(info, "\\", reinterpret_cast<LPVOID*>(&fixed), &fixedSize) && fixed &&
        fixedSize >= sizeof(VS_FIXEDFILEINFO)) {
        version.major = HIWORD(fixed->dwFileVersionMS);
        version.minor = LOWORD(fixed->dwFileVersionMS);
        version.stage = HIWORD(fixed->dwFileVersionLS);
        version.build = LOWORD(fixed->dwFileVersionLS);
        version.debug = (fixed->dwFileFlags & fixed->dwFileFlagsMask & VS_FF_DEBUG) != 0;
    }
    delete[] info;
    return version;
}
