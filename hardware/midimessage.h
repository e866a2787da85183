// MIDI messages as the virtual devices see them: complete messages with
// their status byte (running status already expanded), a System Exclusive
// whole from 0xF0 to 0xF7.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace hardware {

using MidiBytes = std::vector<uint8_t>;

// Bytes of a message that starts with `status`, the status included: 1 to
// 3 for channel, system common and real-time messages; 0 for a SysEx start
// (its length is open), a 0xF7 and the undefined 0xF4, 0xF5, 0xF9, 0xFD.
inline size_t MidiMessageLength(uint8_t status)
{
    if (status < 0x80) return 0;
    if (status < 0xF0) return (status & 0xE0) == 0xC0 ? 2 : 3;  // 0xCn, 0xDn: 2
    switch (status) {
    case 0xF1: case 0xF3: return 2;
    case 0xF2: return 3;
    case 0xF6: case 0xF8: case 0xFA: case 0xFB: case 0xFC: case 0xFE: case 0xFF: return 1;
    default: return 0;
    }
}

inline bool IsRealTime(uint8_t b) { return b >= 0xF8; }

// "0x9C", for fault reports.
inline std::string HexByte(uint8_t b)
{
    char text[8];
    snprintf(text, sizeof text, "0x%02X", b);
    return text;
}

}  // namespace hardware
