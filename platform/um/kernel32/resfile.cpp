// The .res reader and the ELF section reader behind the resource functions.
#include "um/kernel32/resfile.h"

#include "um/modules.h"

#include <elf.h>

#include <cstring>
#include <fstream>
#include <map>
#include <mutex>

namespace umsim {
namespace {

char16_t Upper(char16_t c) { return c >= u'a' && c <= u'z' ? char16_t(c - 32) : c; }

uint32_t Dword(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
uint16_t Word(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

// "#123" names the id 123, as Windows reads it.
ResourceId FromText(std::u16string text)
{
    ResourceId id;
    if (text.size() > 1 && text[0] == u'#') {
        uint32_t number = 0;
        bool digits = text.size() <= 6;
        for (size_t i = 1; digits && i < text.size(); ++i) {
            digits = text[i] >= u'0' && text[i] <= u'9';
            number = number * 10 + uint32_t(text[i] - u'0');
        }
        if (digits && number <= 0xFFFF) {
            id.number = uint16_t(number);
            return id;
        }
    }
    id.isName = true;
    id.name = std::move(text);
    return id;
}

// A type or name field of a header: 0xFFFF and an id, or a terminated
// UTF-16 name. Advances *offset; false when it runs past `end`.
bool ReadId(const uint8_t* data, size_t* offset, size_t end, ResourceId* id)
{
    if (*offset + 2 > end) return false;
    if (Word(data + *offset) == 0xFFFF) {
        if (*offset + 4 > end) return false;
        id->number = Word(data + *offset + 2);
        *offset += 4;
        return true;
    }
    id->isName = true;
    for (;;) {
        if (*offset + 2 > end) return false;
        char16_t c = Word(data + *offset);
        *offset += 2;
        if (!c) return true;
        id->name.push_back(c);
    }
}

template <class Ehdr, class Shdr>
std::optional<std::vector<uint8_t>> ReadSection(std::ifstream& file, uint64_t fileSize, const char* section,
                                                std::string* error)
{
    auto readAt = [&](uint64_t offset, void* out, uint64_t size) {
        if (offset > fileSize || size > fileSize - offset) return false;
        file.seekg(std::streamoff(offset));
        return bool(file.read(static_cast<char*>(out), std::streamsize(size)));
    };
    Ehdr header;
    if (!readAt(0, &header, sizeof header) || header.e_shentsize != sizeof(Shdr) || header.e_shstrndx >= header.e_shnum) {
        *error = "malformed ELF header";
        return std::nullopt;
    }
    std::vector<Shdr> sections(header.e_shnum);
    if (!readAt(header.e_shoff, sections.data(), uint64_t(sizeof(Shdr)) * header.e_shnum)) {
        *error = "section headers outside the file";
        return std::nullopt;
    }
    const Shdr& names = sections[header.e_shstrndx];
    std::vector<char> nameTable(size_t(names.sh_size) + 1, '\0');
    if (names.sh_size > fileSize || !readAt(names.sh_offset, nameTable.data(), names.sh_size)) {
        *error = "section names outside the file";
        return std::nullopt;
    }
    for (const Shdr& s : sections) {
        if (s.sh_name >= names.sh_size || strcmp(nameTable.data() + s.sh_name, section) != 0) continue;
        if (s.sh_type == SHT_NOBITS || s.sh_size > fileSize) break;
        std::vector<uint8_t> bytes(size_t(s.sh_size));
        if (!readAt(s.sh_offset, bytes.data(), s.sh_size)) {
            *error = std::string("section ") + section + " outside the file";
            return std::nullopt;
        }
        return bytes;
    }
    *error = std::string("no section ") + section;
    return std::nullopt;
}

}  // namespace

ResourceId ResourceId::FromA(LPCSTR id)
{
    if (IS_INTRESOURCE(id)) {
        ResourceId result;
        result.number = uint16_t(reinterpret_cast<uintptr_t>(id));
        return result;
    }
    std::u16string text;
    for (const char* p = id; *p; ++p) text.push_back(char16_t(uint8_t(*p)));  // Latin-1, as the ANSI page here
    return FromText(std::move(text));
}

ResourceId ResourceId::FromW(LPCWSTR id)
{
    if (IS_INTRESOURCE(id)) {
        ResourceId result;
        result.number = uint16_t(reinterpret_cast<uintptr_t>(id));
        return result;
    }
    return FromText(id);
}

bool ResourceId::Matches(const ResourceId& other) const
{
    if (isName != other.isName) return false;
    if (!isName) return number == other.number;
    if (name.size() != other.name.size()) return false;
    for (size_t i = 0; i < name.size(); ++i) {
        if (Upper(name[i]) != Upper(other.name[i])) return false;
    }
    return true;
}

std::optional<std::vector<ResourceEntry>> ParseResFile(const uint8_t* data, size_t size, std::string* error)
{
    // Each entry: DataSize, HeaderSize, type, name, (align 4) DataVersion,
    // MemoryFlags, LanguageId, Version, Characteristics; then the data,
    // aligned to 4. The first entry of a .res file is an empty marker.
    constexpr size_t kFixedTail = 16;
    std::vector<ResourceEntry> entries;
    size_t offset = 0;
    while (offset < size) {
        auto fail = [&](const char* what) {
            *error = "resource entry at offset " + std::to_string(offset) + ": " + what;
            return std::nullopt;
        };
        if (size - offset < 8) return fail("truncated header");
        uint32_t dataSize = Dword(data + offset);
        uint32_t headerSize = Dword(data + offset + 4);
        if (headerSize < 8 + 8 + kFixedTail || headerSize > size - offset) return fail("bad header size");
        size_t headerEnd = offset + headerSize;
        if (dataSize > size - headerEnd) return fail("data runs past the end");
        ResourceEntry entry;
        size_t field = offset + 8;
        if (!ReadId(data, &field, headerEnd, &entry.type) || !ReadId(data, &field, headerEnd, &entry.name)) {
            return fail("type or name runs past the header");
        }
        field = (field + 3) & ~size_t(3);
        if (field + kFixedTail > headerEnd) return fail("header too short for its names");
        entry.language = Word(data + field + 6);
        entry.data = data + headerEnd;
        entry.size = dataSize;
        bool marker = !entry.type.isName && entry.type.number == 0;
        if (!marker) entries.push_back(std::move(entry));
        size_t next = headerEnd + dataSize;
        next = next > size - 3 ? size : (next + 3) & ~size_t(3);
        offset = next;
    }
    return entries;
}

std::optional<std::vector<uint8_t>> ReadElfSection(const std::string& path, const char* section, std::string* error)
{
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    if (!file) {
        *error = path + ": cannot be read";
        return std::nullopt;
    }
    uint64_t fileSize = uint64_t(file.tellg());
    unsigned char ident[EI_NIDENT] = {};
    file.seekg(0);
    if (fileSize < EI_NIDENT || !file.read(reinterpret_cast<char*>(ident), EI_NIDENT) ||
        memcmp(ident, ELFMAG, SELFMAG) != 0 || ident[EI_DATA] != ELFDATA2LSB) {
        *error = path + ": not a little-endian ELF file";
        return std::nullopt;
    }
    std::string why;
    auto bytes = ident[EI_CLASS] == ELFCLASS64 ? ReadSection<Elf64_Ehdr, Elf64_Shdr>(file, fileSize, section, &why)
               : ident[EI_CLASS] == ELFCLASS32 ? ReadSection<Elf32_Ehdr, Elf32_Shdr>(file, fileSize, section, &why)
                                               : std::nullopt;
    if (!bytes) *error = path + ": " + (why.empty() ? "unknown ELF class" : why);
    return bytes;
}

std::unique_ptr<ResourceTable> ReadResourcesOfFile(const std::string& path, DWORD* error)
{
    std::string why;
    auto bytes = ReadElfSection(path, ".rsrc", &why);
    if (!bytes) {
        *error = std::ifstream(path) ? ERROR_RESOURCE_DATA_NOT_FOUND : ERROR_FILE_NOT_FOUND;
        return nullptr;
    }
    auto table = std::make_unique<ResourceTable>();
    table->bytes = std::move(*bytes);
    auto entries = ParseResFile(table->bytes.data(), table->bytes.size(), &why);
    if (!entries) {
        *error = ERROR_RESOURCE_DATA_NOT_FOUND;
        return nullptr;
    }
    table->entries = std::move(*entries);
    return table;
}

const ResourceTable* ResourcesOfFile(const std::string& path, DWORD* error)
{
    static std::mutex mutex;
    // Guarded by `mutex`; tables are never freed, so pointers into them
    // stay valid for callers after the lock is gone.
    static auto* tables = new std::map<std::string, std::unique_ptr<ResourceTable>>;
    std::lock_guard lock(mutex);
    auto found = tables->find(path);
    if (found != tables->end()) return found->second.get();
    auto table = ReadResourcesOfFile(path, error);
    if (!table) return nullptr;
    return tables->emplace(path, std::move(table)).first->second.get();
}

const ResourceTable* ResourcesOfModule(HMODULE module, DWORD* error)
{
    auto path = ModuleFilePath(module);
    if (!path) {
        *error = ERROR_MOD_NOT_FOUND;
        return nullptr;
    }
    return ResourcesOfFile(*path, error);
}

const ResourceEntry* FindResourceEntry(const ResourceTable& table, const ResourceId& type, const ResourceId& name,
                                       DWORD* error)
{
    const ResourceEntry* best = nullptr;
    bool typeSeen = false;
    auto rank = [](uint16_t language) { return language == 0 ? 0 : language == 0x409 ? 1 : 2; };
    for (const ResourceEntry& entry : table.entries) {
        if (!entry.type.Matches(type)) continue;
        typeSeen = true;
        if (!entry.name.Matches(name)) continue;
        if (!best || rank(entry.language) < rank(best->language)) best = &entry;
    }
    if (!best) *error = typeSeen ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND;
    return best;
}

}  // namespace umsim
