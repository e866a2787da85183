// GetCommandLineA and the start-up code's view of the command line.
#include "um/commandline.h"

#include <windows.h>

namespace umsim {
namespace {

// Written once at start-up before other threads exist; read-only after.
std::string& ProcessCommandLine()
{
    static auto* commandLine = new std::string;
    return *commandLine;
}

void AppendQuoted(std::string& line, const std::string& word)
{
    line += '"';
    size_t backslashes = 0;
    for (char c : word) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        // Backslashes are literal unless a quote follows them.
        line.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        line += c;
    }
    line.append(backslashes * 2, '\\');  // doubled before the closing quote
    line += '"';
}

}  // namespace

std::string WindowsCommandLine(int argc, const char* const* argv)
{
    std::string line;
    for (int i = 0; i < argc; ++i) {
        std::string word = argv[i] ? argv[i] : "";
        if (i) line += ' ';
        if (word.empty() || word.find_first_of(" \t\"") != std::string::npos) {
            AppendQuoted(line, word);
        } else {
            line += word;
        }
    }
    return line;
}

void SetProcessCommandLine(const std::string& commandLine) { ProcessCommandLine() = commandLine; }

const char* CommandLineAfterProgramName(const char* commandLine)
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(commandLine ? commandLine : "");
    if (*p == '"') {
        ++p;
        while (*p && *p != '"') ++p;
        if (*p == '"') ++p;
    } else {
        while (*p > ' ') ++p;
    }
    while (*p && *p <= ' ') ++p;
    return reinterpret_cast<const char*>(p);
}

}  // namespace umsim

LPSTR WINAPI GetCommandLineA(void) { return umsim::ProcessCommandLine().data(); }
