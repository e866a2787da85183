// The sizes inside icon-group and bitmap resources, read with every length
// checked (resource bytes are untrusted input).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace umsim {

struct IconGroupEntry {
    int width = 0;  // 256 where the byte says 0
    int height = 0;
    uint16_t bitCount = 0;
    uint32_t bytes = 0;
    uint16_t iconId = 0;  // the RT_ICON resource holding the image
};

// An RT_GROUP_ICON resource: its entries, or nothing with the reason.
std::optional<std::vector<IconGroupEntry>> ParseIconGroup(const void* data, size_t size, std::string* error = nullptr);

struct BitmapSize {
    int width = 0;
    int height = 0;  // positive; a top-down bitmap's negative height made positive
};

// An RT_BITMAP resource (a DIB: BITMAPINFOHEADER or BITMAPCOREHEADER first).
std::optional<BitmapSize> ParseBitmapSize(const void* data, size_t size, std::string* error = nullptr);

}  // namespace umsim
