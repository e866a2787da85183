#include "hardware/packetlog.h"

namespace hardware {

void PacketLog::Add(ULONG frame, std::span<const uint8_t> bytes)
{
    m_packets.push_back({frame, {bytes.begin(), bytes.end()}});
    Trim();
}

const AudioPacket* PacketLog::Find(ULONG frame) const
{
    // Frames arrive in order, so the search walks back only as far as the
    // distance to the frame asked for.
    for (auto it = m_packets.rbegin(); it != m_packets.rend(); ++it) {
        if (it->frame == frame) return &*it;
        if (int32_t(it->frame - frame) < 0) break;  // walked past it
    }
    return nullptr;
}

void PacketLog::SetLimit(size_t packets)
{
    m_limit = packets == 0 ? 1 : packets;
    Trim();
}

void PacketLog::Clear()
{
    m_packets.clear();
    m_dropped = 0;
}

void PacketLog::Trim()
{
    while (m_packets.size() > m_limit) {
        m_packets.pop_front();
        ++m_dropped;
    }
}

}  // namespace hardware
