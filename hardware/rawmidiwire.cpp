#include "hardware/rawmidiwire.h"

namespace hardware {

void RawMidiWire::Unpack(std::span<const uint8_t> packet, std::vector<MidiPiece>& pieces,
                         std::vector<std::string>&) const
{
    if (packet.empty()) return;
    MidiBytes bytes(packet.begin(), packet.end());
    pieces.push_back({0, bytes, bytes});
}

std::vector<MidiBytes> RawMidiWire::Pack(uint8_t, std::span<const MidiBytes> messages, size_t maxPacket)
{
    MidiBytes stream;
    for (const MidiBytes& m : messages) stream.insert(stream.end(), m.begin(), m.end());
    return SplitIntoPackets(stream, maxPacket);
}

}  // namespace hardware
