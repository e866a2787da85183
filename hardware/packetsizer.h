// How many frames the device puts into each isochronous IN packet: the
// nominal rate / 1000 with the remainder carried from packet to packet
// (44.1 kHz gives nine packets of 44 frames, then one of 45), or a pattern
// of frame counts repeated for as long as it is set (0 = zero-length packet).
#pragma once

#include <usb.h>

#include <vector>

namespace hardware {

class PacketSizer {
public:
    void UseNominal();
    // An empty pattern means nominal sizing.
    void UsePattern(std::vector<ULONG> frames);
    bool Nominal() const { return m_pattern.empty(); }

    // Frames for the next packet at `rate` Hz.
    ULONG NextFrames(ULONG rate);

private:
    std::vector<ULONG> m_pattern;
    size_t m_next = 0;
    ULONG m_rate = 0;       // rate the remainder belongs to
    ULONG m_remainder = 0;  // frames x 1000 not yet sent, below 1000
};

}  // namespace hardware
