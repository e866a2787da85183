// Feeds arbitrary bytes to the .res reader, and looks up every entry it
// accepts as the resource functions would (type, name, string blocks).
#include "um/kernel32/resfile.h"

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
    }
    return 0;
}
