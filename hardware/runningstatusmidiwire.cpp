#include "hardware/runningstatusmidiwire.h"

namespace hardware {

void RunningStatusMidiWire::Unpack(std::span<const uint8_t> packet, std::vector<MidiPiece>& pieces,
                                   std::vector<std::string>&) const
{
    // The stream decoder behind the wire expands the running status.
    if (packet.empty()) return;
    MidiBytes bytes(packet.begin(), packet.end());
    pieces.push_back({0, bytes, bytes});
}

std::vector<MidiBytes> RunningStatusMidiWire::Pack(uint8_t, std::span<const MidiBytes> messages,
                                                   size_t maxPacket)
{
    MidiBytes stream;
    for (const MidiBytes& m : messages) {
        if (m.empty()) continue;
        const uint8_t status = m[0];
        if (IsRealTime(status)) {  // leaves running status alone
            stream.push_back(status);
            continue;
        }
        const bool omit = status < 0xF0 && status == m_lastStatus;
        stream.insert(stream.end(), m.begin() + (omit ? 1 : 0), m.end());
        m_lastStatus = status < 0xF0 ? status : 0;
    }
    return SplitIntoPackets(stream, maxPacket);
}

}  // namespace hardware
