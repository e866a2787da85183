// A bounded record of isochronous packets by USB frame. Not locked: the
// audio endpoint that owns one guards it.
#pragma once

#include <usb.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>
#include <vector>

namespace hardware {

struct AudioPacket {
    ULONG frame = 0;             // USB frame the packet travelled in
    std::vector<uint8_t> bytes;  // as on the wire; empty for a zero-length packet
};

class PacketLog {
public:
    // Ten seconds of 1-ms frames: enough for any test, bounded for tools
    // that run a device for hours.
    static constexpr size_t kDefaultLimit = 10000;

    void Add(ULONG frame, std::span<const uint8_t> bytes);
    // The newest packet recorded for frame (frame numbers wrap at 32 bits),
    // or null when it was never recorded or has been dropped.
    const AudioPacket* Find(ULONG frame) const;

    std::vector<AudioPacket> Packets() const { return {m_packets.begin(), m_packets.end()}; }
    size_t Count() const { return m_packets.size(); }
    // Packets dropped (oldest first) to stay within the limit.
    size_t Dropped() const { return m_dropped; }
    void SetLimit(size_t packets);
    void Clear();

private:
    void Trim();

    std::deque<AudioPacket> m_packets;
    size_t m_limit = kDefaultLimit;
    size_t m_dropped = 0;
};

}  // namespace hardware
