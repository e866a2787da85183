// Arbitrary bytes as a setup tool's command line: the program name comes
// off as the start-up code takes it, then the splitter either refuses the
// rest or fills at most eight slots with non-empty words that fit theirs.
#include "setupcommands.h"
#include "um/commandline.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string line(reinterpret_cast<const char*>(data), size);  // C string: up to its first NUL
    const char* rest = umsim::CommandLineAfterProgramName(line.c_str());
    if (rest < line.c_str() || rest > line.c_str() + strlen(line.c_str())) __builtin_trap();

    ArgumentTable table;
    memset(&table, 0xCC, sizeof table);
    if (!SplitCommandLine(rest, &table)) return 0;
    if (table.count < 0 || table.count > SETUP_MAX_WORDS) __builtin_trap();
    for (int i = 0; i < table.count; ++i) {
        size_t length = strnlen(table.words[i], MAX_PATH);
        if (length == 0 || length == MAX_PATH || !strstr(rest, std::string(table.words[i], length).c_str())) {
            __builtin_trap();
        }
    }
    const SetupCommand* command = FindSetupCommand(table);
    if (command && (command->words != table.count || strcmp(command->name, table.words[0]) != 0)) __builtin_trap();
    return 0;
}
