// GetFileVersionInfoSizeA, GetFileVersionInfoA, VerQueryValueA over the
// RT_VERSION resource of a module file (a Linux module with its .rsrc
// section), named by a Windows path in the virtual root or a host path.
#include "um/kernel32/resfile.h"
#include "um/version/versiontree.h"
#include "um/windowsroot.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <set>

namespace {

std::string HostFile(const char* name)
{
    if (auto host = umsim::WindowsRoot::HostPath(name)) return *host;
    std::string path = name;
    for (char& c : path) c = c == '\\' ? '/' : c;
    return path;
}

// The version resource's bytes as they are in the file now, or empty with
// the last error set.
std::vector<uint8_t> VersionResource(LPCSTR lptstrFilename)
{
    if (!lptstrFilename || !*lptstrFilename) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return {};
    }
    DWORD error = ERROR_SUCCESS;
    auto table = umsim::ReadResourcesOfFile(HostFile(lptstrFilename), &error);
    if (!table) {
        SetLastError(error);
        return {};
    }
    umsim::ResourceId type;
    type.number = 16;  // RT_VERSION, whatever its name
    for (const umsim::ResourceEntry& entry : table->entries) {
        if (entry.type.Matches(type) && entry.size) return std::vector<uint8_t>(entry.data, entry.data + entry.size);
    }
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return {};
}

// ANSI copies of the texts queried; callers keep the pointers, so they
// live as long as the process. Bounded by the distinct texts queried.
const char* InternAnsi(std::string text)
{
    static std::mutex mutex;
    static auto* texts = new std::set<std::string>;  // guarded by mutex
    std::lock_guard lock(mutex);
    return texts->insert(std::move(text)).first->c_str();
}

}  // namespace

DWORD WINAPI GetFileVersionInfoSizeA(LPCSTR lptstrFilename, LPDWORD lpdwHandle)
{
    if (lpdwHandle) *lpdwHandle = 0;
    std::vector<uint8_t> resource = VersionResource(lptstrFilename);
    return DWORD(resource.size());
}

BOOL WINAPI GetFileVersionInfoA(LPCSTR lptstrFilename, DWORD dwHandle, DWORD dwLen, LPVOID lpData)
{
    UNREFERENCED_PARAMETER(dwHandle);
    if (!lpData || !dwLen) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::vector<uint8_t> resource = VersionResource(lptstrFilename);
    if (resource.empty()) return FALSE;
    // A short buffer gets the start of the information, as on Windows.
    memcpy(lpData, resource.data(), std::min<size_t>(dwLen, resource.size()));
    return TRUE;
}

BOOL WINAPI VerQueryValueA(LPCVOID pBlock, LPCSTR lpSubBlock, LPVOID* lplpBuffer, PUINT puLen)
{
    if (!pBlock || !lpSubBlock || !lplpBuffer) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto block = static_cast<const uint8_t*>(pBlock);
    // The block's own first word gives its length.
    auto value = umsim::FindVersionValue(block, size_t(block[0] | block[1] << 8), lpSubBlock);
    if (!value || !value->size) {
        SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
        return FALSE;
    }
    if (value->text) {
        std::string ansi;
        for (size_t i = 0; i + 1 < value->size; i += 2) {
            unsigned unit = unsigned(value->data[i] | value->data[i + 1] << 8);
            if (!unit) break;
            ansi += unit < 0x100 ? char(unit) : '?';
        }
        const char* text = InternAnsi(ansi);
        *lplpBuffer = const_cast<char*>(text);
        if (puLen) *puLen = UINT(ansi.size() + 1);
        return TRUE;
    }
    *lplpBuffer = const_cast<uint8_t*>(value->data);
    if (puLen) *puLen = UINT(value->size);
    return TRUE;
}
