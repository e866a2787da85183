// Feeds arbitrary bytes to the MIDI parser; every report must be a whole
// message of the kind it claims.
#include "midiparser.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) return 0;
    MidiParser parser(data[0] & 1 ? kClassSysExChunk : kDefaultSysExChunk);
    for (size_t i = 1; i < size; ++i) {
        MidiMessageView m = parser.Feed(data[i]);
        if (m.kind == kMidiNothing) continue;
        if (m.length == 0 || m.length > kDefaultSysExChunk) abort();
        if (m.kind == kMidiRealTime && (m.length != 1 || m.bytes[0] < 0xF8)) abort();
        if (m.kind == kMidiChannel && (m.bytes[0] < 0x80 || m.bytes[0] >= 0xF0 || m.length < 2)) abort();
        if (m.kind == kMidiSysExEnd && m.bytes[m.length - 1] != 0xF7) abort();
        for (ULONG k = 1; k < m.length; ++k)
            if (m.kind != kMidiSysExEnd && m.bytes[k] >= 0x80) abort();
    }
    return 0;
}
