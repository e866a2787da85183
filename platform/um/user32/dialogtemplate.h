// Dialog templates in both published forms (DLGTEMPLATE and
// DLGTEMPLATEEX, as windres and the resource compiler emit them), decoded
// into one description. Every length is checked against the bytes given:
// a template from a resource is untrusted input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace umsim {

// A class, menu or title field: absent, an ordinal, or a name.
struct NameOrOrdinal {
    bool isOrdinal = false;
    uint16_t ordinal = 0;
    std::u16string name;
    bool Empty() const { return !isOrdinal && name.empty(); }
};

struct DialogItemTemplate {
    uint32_t helpId = 0;
    uint32_t style = 0;
    uint32_t exStyle = 0;
    int16_t x = 0, y = 0, cx = 0, cy = 0;  // dialog units
    uint32_t id = 0;
    NameOrOrdinal windowClass;  // ordinals 0x80..0x85 are the system classes
    NameOrOrdinal title;        // an ordinal names an icon or bitmap resource
    std::vector<uint8_t> creationData;
};

struct DialogTemplate {
    bool extended = false;
    uint32_t helpId = 0;
    uint32_t style = 0;
    uint32_t exStyle = 0;
    int16_t x = 0, y = 0, cx = 0, cy = 0;
    NameOrOrdinal menu;
    NameOrOrdinal windowClass;
    std::u16string caption;
    bool hasFont = false;
    uint16_t pointSize = 0;
    uint16_t weight = 0;
    bool italic = false;
    uint8_t charset = 0;
    std::u16string typeface;
    std::vector<DialogItemTemplate> items;
};

// Decodes size bytes at data. On failure returns nothing and says in
// *error (optional) which field ran past the end or was malformed.
std::optional<DialogTemplate> ParseDialogTemplate(const void* data, size_t size, std::string* error = nullptr);

}  // namespace umsim
