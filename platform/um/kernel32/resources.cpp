// FindResource, LoadResource, LockResource, SizeofResource, FreeResource
// over a module's .res image. An HRSRC names the table entry and the
// "loaded" resource is its bytes, which stay mapped while the process runs.
#include "um/kernel32/resfile.h"

namespace {

HRSRC Find(HMODULE hModule, const umsim::ResourceId& name, const umsim::ResourceId& type)
{
    DWORD error = ERROR_SUCCESS;
    const umsim::ResourceTable* table = umsim::ResourcesOfModule(hModule, &error);
    const umsim::ResourceEntry* entry = table ? umsim::FindResourceEntry(*table, type, name, &error) : nullptr;
    if (!entry) {
        SetLastError(error);
        return NULL;
    }
    return reinterpret_cast<HRSRC>(const_cast<umsim::ResourceEntry*>(entry));
}

// The entry an HRSRC names, when it belongs to hModule's table.
const umsim::ResourceEntry* EntryOf(HMODULE hModule, HRSRC hResInfo)
{
    DWORD error = ERROR_SUCCESS;
    const umsim::ResourceTable* table = hResInfo ? umsim::ResourcesOfModule(hModule, &error) : nullptr;
    if (table) {
        for (const umsim::ResourceEntry& entry : table->entries) {
            if (reinterpret_cast<HRSRC>(const_cast<umsim::ResourceEntry*>(&entry)) == hResInfo) return &entry;
        }
    }
    SetLastError(table || !hResInfo ? ERROR_INVALID_HANDLE : error);
    return nullptr;
}

}  // namespace

HRSRC WINAPI FindResourceA(HMODULE hModule, LPCSTR lpName, LPCSTR lpType)
{
    if (!lpName || !lpType) {
        SetLastError(!lpType ? ERROR_RESOURCE_TYPE_NOT_FOUND : ERROR_RESOURCE_NAME_NOT_FOUND);
        return NULL;
    }
    return Find(hModule, umsim::ResourceId::FromA(lpName), umsim::ResourceId::FromA(lpType));
}

HRSRC WINAPI FindResourceW(HMODULE hModule, LPCWSTR lpName, LPCWSTR lpType)
{
    if (!lpName || !lpType) {
        SetLastError(!lpType ? ERROR_RESOURCE_TYPE_NOT_FOUND : ERROR_RESOURCE_NAME_NOT_FOUND);
        return NULL;
    }
    return Find(hModule, umsim::ResourceId::FromW(lpName), umsim::ResourceId::FromW(lpType));
}

HGLOBAL WINAPI LoadResource(HMODULE hModule, HRSRC hResInfo)
{
    const umsim::ResourceEntry* entry = EntryOf(hModule, hResInfo);
    return entry ? const_cast<uint8_t*>(entry->data) : NULL;
}

LPVOID WINAPI LockResource(HGLOBAL hResData) { return hResData; }

DWORD WINAPI SizeofResource(HMODULE hModule, HRSRC hResInfo)
{
    const umsim::ResourceEntry* entry = EntryOf(hModule, hResInfo);
    return entry ? entry->size : 0;
}

// Obsolete on Win32: resources are freed with their module.
BOOL WINAPI FreeResource(HGLOBAL hResData)
{
    UNREFERENCED_PARAMETER(hResData);
    return FALSE;
}
