// INF text to sections and lines. Section names and keys compare without
// case; a section written twice is one section. A line "key = a, b" has
// the key and fields a and b; a line of one value without "=" has that
// value as its key too (so a key search finds it), a line of several
// values without "=" has no key. Fields are kept as written, quotes
// removed; %strkey% substitution happens when a field is read, as it
// depends on [Strings] wherever that section lies in the file.
#pragma once

#include "um/textconversion.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace umsim {

struct InfLine {
    unsigned number = 0;  // 1-based line of the file where it starts
    std::optional<std::string> key;
    std::vector<std::string> fields;
};

struct InfSection {
    std::string name;
    std::vector<InfLine> lines;
};

struct InfText {
    std::vector<InfSection> sections;
    std::unordered_map<std::string, size_t> byLowerName;  // section index by lower-case name
};

struct InfSyntaxError {
    uint32_t code = 0;    // a SetupAPI error code (ERROR_BAD_SECTION_NAME_LINE, ...)
    unsigned line = 0;    // 1-based
};

// Parses the text; on a syntax error returns nullopt and fills *error.
std::optional<InfText> ParseInf(std::string_view text, InfSyntaxError* error);

// The section's index, or -1.
int FindInfSection(const InfText& inf, std::string_view name);

// Substitutes %strkey% from [Strings] and the directory ids (%10%, %11%,
// %12%, %17%) in a field: "%%" is "%", an unknown key stays as written.
// nullopt when the result would exceed maxLength characters.
std::optional<std::string> SubstituteInfStrings(const InfText& inf, std::string_view field, size_t maxLength);

}  // namespace umsim
