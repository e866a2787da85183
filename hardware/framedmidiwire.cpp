#include "hardware/framedmidiwire.h"

#include <algorithm>

namespace hardware {

namespace {

constexpr size_t kHeader = 2;

}  // namespace

void FramedMidiWire::Unpack(std::span<const uint8_t> packet, std::vector<MidiPiece>& pieces,
                            std::vector<std::string>& faults) const
{
    const MidiBytes unit(packet.begin(), packet.end());
    if (packet.size() < kHeader) {
        faults.push_back("framed packet of " + std::to_string(packet.size()) + " bytes has no header");
        return;
    }
    if (packet[0] != 0x00)
        faults.push_back("framed packet starts with " + HexByte(packet[0]) + ", not 0x00");
    size_t length = packet[1];
    const size_t carried = packet.size() - kHeader;
    if (length > carried) {
        faults.push_back("framed packet announces " + std::to_string(length) + " bytes and carries " +
                         std::to_string(carried));
        length = carried;  // what arrived is still read
    } else if (length < carried) {
        faults.push_back("framed packet has " + std::to_string(carried - length) +
                         " bytes after its payload");
    }
    if (length == 0) return;
    pieces.push_back({0, MidiBytes(packet.begin() + kHeader, packet.begin() + kHeader + length), unit});
}

std::vector<MidiBytes> FramedMidiWire::Pack(uint8_t, std::span<const MidiBytes> messages, size_t maxPacket)
{
    MidiBytes stream;
    for (const MidiBytes& m : messages) stream.insert(stream.end(), m.begin(), m.end());
    const size_t payload = std::clamp<size_t>(maxPacket > kHeader ? maxPacket - kHeader : 1, 1, kMaxInPayload);
    std::vector<MidiBytes> packets;
    for (MidiBytes& piece : SplitIntoPackets(stream, payload)) {
        MidiBytes packet = {uint8_t(piece.size() + 1), 0x00};
        packet.insert(packet.end(), piece.begin(), piece.end());
        packets.push_back(std::move(packet));
    }
    return packets;
}

}  // namespace hardware
