#include "argumenttable.h"

#include <string.h>

BOOL SplitCommandLine(const char* commandLine, ArgumentTable* table)
{
    table->count = 0;
    const char* p = commandLine;
    while (*p) {
        // Only the space separates words; a tab is part of one.
        if (*p == ' ') {
            ++p;
            continue;
        }
        const char* start;
        size_t length;
        if (*p == '"') {
            start = ++p;
            const char* close = strchr(p, '"');
            length = close ? size_t(close - start) : strlen(start);
            p = close ? close + 1 : start + length;
        } else {
            start = p;
            while (*p && *p != ' ') ++p;
            length = size_t(p - start);
        }
        if (length == 0) continue;
        if (table->count == SETUP_MAX_WORDS || length >= MAX_PATH) return FALSE;
        char* word = table->words[table->count++];
        memset(word, 0, MAX_PATH);
        memcpy(word, start, length);
    }
    return TRUE;
}
