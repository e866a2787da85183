// The words of mrvsetuputil's command line: the command name and its operands.
#pragma once

#include <windows.h>

#define SETUP_MAX_WORDS 8

struct ArgumentTable {
    char words[SETUP_MAX_WORDS][MAX_PATH];  // each NUL-terminated
    int count;
};

// Splits a command line (without the program name) into words separated by
// spaces; a double-quoted word may hold spaces, and an unclosed quote runs
// to the end of the line. Empty words are dropped. FALSE when the line
// does not fit the table (a ninth word, or a word of MAX_PATH characters or
// more): such a line is no command, whatever its start.
BOOL SplitCommandLine(const char* commandLine, ArgumentTable* table);
