// The signal loopback checks play: no two neighbouring samples alike, never
// silent, the full 24-bit range in use, and the channel in the low bits, so
// that a sample lost, repeated or moved to another channel shows.
#pragma once

#include <cstdint>

inline int32_t LoopbackSignal(uint64_t frame, int channel)
{
    const uint32_t v = (uint32_t(frame * 2654435761u) & 0xFFFFF0u) | 0x100u;
    return int32_t(v << 8) >> 8 | channel;
}
