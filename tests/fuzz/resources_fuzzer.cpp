// Feeds arbitrary bytes to the .res reader, looks up every entry it
// accepts as the resource functions would, and walks each entry as a
// version tree.
#include "um/kernel32/resfile.h"
#include "um/version/versiontree.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string error;
    auto entries = umsim::ParseResFile(data, size, &error);
    if (!entries) return 0;
    umsim::ResourceTable table;
    table.entries = *entries;
    for (const umsim::ResourceEntry& entry : table.entries) {
        DWORD lookupError = 0;
        const umsim::ResourceEntry* found = umsim::FindResourceEntry(table, entry.type, entry.name, &lookupError);
        if (!found || found->data < data || found->data + found->size > data + size) __builtin_trap();
        for (const char* path : {"\\", "\\StringFileInfo\\040904b0\\FileVersion", "\\VarFileInfo\\Translation"}) {
            auto value = umsim::FindVersionValue(entry.data, entry.size, path);
            if (value && (value->data < entry.data || value->data + value->size > entry.data + entry.size)) {
                __builtin_trap();
            }
        }
    }
    return 0;
}
