// The process's Windows command line: what GetCommandLineA reports, formed
// from a host program's arguments, and the part a WinMain receives.
#pragma once

#include <string>

namespace umsim {

// The arguments as one Windows command line: words separated by a space,
// a word with a space or tab (or an empty one) quoted, quotes and the
// backslashes before them escaped as the C runtime's parser reads them back.
std::string WindowsCommandLine(int argc, const char* const* argv);

// Makes the command line GetCommandLineA's answer. Called once at start-up,
// before any other thread runs (the single writer).
void SetProcessCommandLine(const std::string& commandLine);

// The command line without the program name, as the C runtime's start-up
// code hands it to WinMain: a quoted name ends at its closing quote, an
// unquoted one at the first character not above a space; the blanks (and
// control characters) after it are skipped.
const char* CommandLineAfterProgramName(const char* commandLine);

}  // namespace umsim
