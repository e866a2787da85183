// Feeds arbitrary bytes to the icon-group and bitmap resource readers.
#include "um/user32/imageresource.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string error;
    if (auto entries = umsim::ParseIconGroup(data, size, &error)) {
        if (entries->empty() || 6 + 14 * entries->size() > size) __builtin_trap();
    }
    if (auto bitmap = umsim::ParseBitmapSize(data, size, &error)) {
        if (bitmap->width <= 0 || bitmap->height <= 0) __builtin_trap();
    }
    return 0;
}
