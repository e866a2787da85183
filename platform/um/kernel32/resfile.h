// Module resources as the binary .res file that windres makes, which each
// Linux module carries unchanged as its .rsrc section. Both readers are
// parsers of untrusted bytes: every length is checked before it is used.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace umsim {

// A resource type or name: a 16-bit id, or a name (compared without case,
// as Windows compares them).
struct ResourceId {
    bool isName = false;
    uint16_t number = 0;
    std::u16string name;

    // From the LPCSTR/LPCWSTR form: MAKEINTRESOURCE(n), "#n" or a name.
    static ResourceId FromA(LPCSTR id);
    static ResourceId FromW(LPCWSTR id);
    bool Matches(const ResourceId& other) const;
};

struct ResourceEntry {
    ResourceId type;
    ResourceId name;
    uint16_t language = 0;
    const uint8_t* data = nullptr;  // inside the owning ResourceTable's bytes
    uint32_t size = 0;
};

// One module's resources. Entries point into `bytes`, which never moves.
struct ResourceTable {
    std::vector<uint8_t> bytes;
    std::vector<ResourceEntry> entries;
};

// Indexes a .res image; nullopt with the reason in *error when any entry
// is malformed (nothing of a bad image is used).
std::optional<std::vector<ResourceEntry>> ParseResFile(const uint8_t* data, size_t size, std::string* error);

// The contents of the named section of an ELF file (32- or 64-bit); nullopt
// with the reason when the file is unreadable, not ELF or has no such section.
std::optional<std::vector<uint8_t>> ReadElfSection(const std::string& path, const char* section, std::string* error);

// The resources of a file as it is now (for version queries of files that
// may be replaced). Errors as ResourcesOfFile.
std::unique_ptr<ResourceTable> ReadResourcesOfFile(const std::string& path, DWORD* error);
// The resources of a module file, read once and kept for the process's
// life (as Windows keeps a loaded image mapped). Null with a Win32 error:
// ERROR_FILE_NOT_FOUND, ERROR_RESOURCE_DATA_NOT_FOUND (no or a bad .rsrc).
const ResourceTable* ResourcesOfFile(const std::string& path, DWORD* error);
// The same for a loaded module (NULL: the program). ERROR_MOD_NOT_FOUND
// when the handle names no loaded module.
const ResourceTable* ResourcesOfModule(HMODULE module, DWORD* error);

// Finds type and name, preferring the neutral language, then US English,
// then the first there is. Null with ERROR_RESOURCE_TYPE_NOT_FOUND or
// ERROR_RESOURCE_NAME_NOT_FOUND.
const ResourceEntry* FindResourceEntry(const ResourceTable& table, const ResourceId& type, const ResourceId& name,
                                       DWORD* error);

}  // namespace umsim
