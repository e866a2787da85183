#include "hardware/packetsizer.h"

namespace hardware {

void PacketSizer::UseNominal()
{
    m_pattern.clear();
    m_next = 0;
    m_remainder = 0;
}

void PacketSizer::UsePattern(std::vector<ULONG> frames)
{
    m_pattern = std::move(frames);
    m_next = 0;
    m_remainder = 0;
}

ULONG PacketSizer::NextFrames(ULONG rate)
{
    if (!m_pattern.empty()) {
        const ULONG frames = m_pattern[m_next];
        m_next = (m_next + 1) % m_pattern.size();
        return frames;
    }
    if (rate != m_rate) {  // a new rate starts a new sequence
        m_rate = rate;
        m_remainder = 0;
    }
    // 64-bit so that a hostile rate near 2^32 cannot overflow the sum.
    const uint64_t total = uint64_t(m_remainder) + rate;
    m_remainder = ULONG(total % 1000);
    return ULONG(total / 1000);
}

}  // namespace hardware
