// Packs arbitrary MIDI output in each wire format into packets of an
// arbitrary size: no write past the packet, progress on every packet, and
// class packing followed by class unpacking gives back, per cable, what the
// cable's parser made of the bytes.
#include "midiwireformat.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr size_t kGuard = 16;

void CheckGuard(const std::vector<UCHAR>& buffer, ULONG capacity)
{
    for (size_t i = capacity; i < buffer.size(); ++i)
        if (buffer[i] != 0xA5) abort();
}

void AppendEvent(void* context, ULONG, const UCHAR* bytes, ULONG size)
{
    auto* out = static_cast<std::vector<UCHAR>*>(context);
    out->insert(out->end(), bytes, bytes + size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2) return 0;
    const int format = data[0] % 3;
    const ULONG capacity = 1 + data[1] % 70;
    const UCHAR* source = data + 2;
    const ULONG length = ULONG(size - 2);

    MidiParser packer(kClassSysExChunk);
    MidiParser reference(kClassSysExChunk);
    std::vector<UCHAR> unpacked;
    std::vector<UCHAR> expected;
    for (ULONG i = 0; i < length; ++i) {
        MidiMessageView m = reference.Feed(source[i]);
        if (m.kind != kMidiNothing) expected.insert(expected.end(), m.bytes, m.bytes + m.length);
    }

    std::vector<UCHAR> packet(capacity + kGuard);
    ULONG offset = 0;
    while (offset < length) {
        std::memset(packet.data(), 0xA5, packet.size());
        ULONG filled = 0;
        ULONG taken = length - offset;
        switch (format) {
        case 0: PackRaw(packet.data(), capacity, &filled, source + offset, &taken); break;
        case 1: PackFramed(packet.data(), capacity, &filled, source + offset, &taken); break;
        default: PackClassEvent(packer, 5, packet.data(), capacity, &filled, source + offset, &taken); break;
        }
        CheckGuard(packet, capacity);
        if (filled > capacity || taken > length - offset) abort();
        // A packet too small for the format takes nothing, and ends the run.
        if (taken == 0) break;
        offset += taken;
        if (format == 2) UnpackClassEvents(packet.data(), filled, AppendEvent, &unpacked);
    }
    if (format == 2 && capacity >= 4 && unpacked != expected) abort();
    return 0;
}
