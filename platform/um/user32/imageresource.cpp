// RT_GROUP_ICON: reserved 0, type 1, count, then count 14-byte entries
// (width, height, colours, reserved, planes, bit count, bytes, icon id).
// RT_BITMAP: a DIB header whose first DWORD is its own size: 12 for the
// core form (WORD width and height), at least 40 for the info form (LONG).
#include "um/user32/imageresource.h"

#include <cstring>

namespace umsim {
namespace {

uint16_t Word(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t Dword(const uint8_t* p) { return uint32_t(Word(p)) | uint32_t(Word(p + 2)) << 16; }

template <class T>
std::optional<T> Fail(std::string* error, const std::string& why)
{
    if (error) *error = why;
    return std::nullopt;
}

}  // namespace

std::optional<std::vector<IconGroupEntry>> ParseIconGroup(const void* data, size_t size, std::string* error)
{
    using Result = std::vector<IconGroupEntry>;
    const auto* bytes = static_cast<const uint8_t*>(data);
    if (!bytes || size < 6) return Fail<Result>(error, "an icon group needs a 6-byte header");
    if (Word(bytes) != 0 || Word(bytes + 2) != 1) return Fail<Result>(error, "not an icon group");
    size_t count = Word(bytes + 4);
    if (count == 0) return Fail<Result>(error, "an icon group without icons");
    if ((size - 6) / 14 < count) return Fail<Result>(error, "the icon group's entries run past its end");
    Result entries;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* e = bytes + 6 + 14 * i;
        entries.push_back({e[0] ? e[0] : 256, e[1] ? e[1] : 256, Word(e + 6), Dword(e + 8), Word(e + 12)});
    }
    return entries;
}

std::optional<BitmapSize> ParseBitmapSize(const void* data, size_t size, std::string* error)
{
    const auto* bytes = static_cast<const uint8_t*>(data);
    if (!bytes || size < 4) return Fail<BitmapSize>(error, "a bitmap needs its header size");
    uint32_t headerSize = Dword(bytes);
    if (headerSize > size) return Fail<BitmapSize>(error, "the bitmap header runs past the resource's end");
    if (headerSize != 12 && headerSize < 40) {
        return Fail<BitmapSize>(error, "unknown bitmap header size " + std::to_string(headerSize));
    }
    int32_t width = headerSize == 12 ? Word(bytes + 4) : int32_t(Dword(bytes + 4));
    int32_t height = headerSize == 12 ? Word(bytes + 6) : int32_t(Dword(bytes + 8));
    if (width <= 0 || height == 0 || height == INT32_MIN) return Fail<BitmapSize>(error, "a bitmap without pixels");
    return BitmapSize{width, height < 0 ? -height : height};
}

}  // namespace umsim
