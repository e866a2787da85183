#include "hardware/classmidiwire.h"

#include <algorithm>
#include <utility>

namespace hardware {

namespace {

// The code index a single-packet message needs.
uint8_t CodeIndexOf(const MidiBytes& message)
{
    const uint8_t status = message[0];
    if (status < 0xF0) return status >> 4;
    if (IsRealTime(status)) return 0x0F;
    switch (message.size()) {
    case 1: return 0x05;  // single-byte system common
    case 2: return 0x02;
    default: return 0x03;
    }
}

// Whether the bytes a channel or system code index carries start as it says.
bool StatusMatches(uint8_t cin, uint8_t first)
{
    if (cin >= 0x08 && cin <= 0x0E) return first >> 4 == cin;
    if (cin == 0x02 || cin == 0x03) return first == 0xF1 || first == 0xF2 || first == 0xF3;
    if (cin == 0x0F) return true;  // single byte: real-time, or any byte
    return true;  // SysEx pieces carry data bytes, 0xF0 or 0xF7
}

}  // namespace

size_t ClassMidiWire::CodeIndexBytes(uint8_t cin)
{
    static constexpr uint8_t kBytes[16] = {0, 0, 2, 3, 3, 1, 2, 3, 3, 3, 3, 3, 2, 2, 3, 1};
    return kBytes[cin & 0x0F];
}

std::vector<MidiBytes> ClassMidiWire::Events(uint8_t cable, const MidiBytes& message)
{
    std::vector<MidiBytes> events;
    if (message.empty()) return events;
    const auto head = uint8_t((cable & 0x0F) << 4);
    if (message[0] != 0xF0) {
        MidiBytes event = {uint8_t(head | CodeIndexOf(message)), 0, 0, 0};
        std::copy_n(message.begin(), std::min<size_t>(message.size(), 3), event.begin() + 1);
        events.push_back(std::move(event));
        return events;
    }
    const bool ended = message.back() == 0xF7;
    for (size_t at = 0; at < message.size(); at += 3) {
        const size_t n = std::min<size_t>(3, message.size() - at);
        const bool last = at + n == message.size();
        // A SysEx cut off before its 0xF7 stays open: its last piece is a
        // continuation.
        const uint8_t cin = last && ended ? uint8_t(0x04 + n) : 0x04;
        MidiBytes event = {uint8_t(head | cin), 0, 0, 0};
        std::copy_n(message.begin() + at, n, event.begin() + 1);
        events.push_back(std::move(event));
    }
    return events;
}

void ClassMidiWire::Unpack(std::span<const uint8_t> packet, std::vector<MidiPiece>& pieces,
                           std::vector<std::string>& faults) const
{
    if (packet.size() % kEventSize != 0)
        faults.push_back("class packet of " + std::to_string(packet.size()) +
                         " bytes is not whole event packets");
    for (size_t at = 0; at + kEventSize <= packet.size(); at += kEventSize) {
        const auto event = packet.subspan(at, kEventSize);
        const auto cable = uint8_t(event[0] >> 4);
        const auto cin = uint8_t(event[0] & 0x0F);
        const size_t n = CodeIndexBytes(cin);
        if (n == 0) {
            faults.push_back("event packet with reserved code index " + std::to_string(cin) + " on cable " +
                             std::to_string(cable));
            continue;
        }
        if (!StatusMatches(cin, event[1]))
            faults.push_back("event packet with code index " + std::to_string(cin) + " carries " +
                             HexByte(event[1]) + " on cable " + std::to_string(cable));
        pieces.push_back({cable, MidiBytes(event.begin() + 1, event.begin() + 1 + n),
                          MidiBytes(event.begin(), event.end())});
    }
}

std::vector<MidiBytes> ClassMidiWire::Pack(uint8_t cable, std::span<const MidiBytes> messages,
                                           size_t maxPacket)
{
    const size_t perPacket = std::max<size_t>(maxPacket / kEventSize, 1);
    std::vector<MidiBytes> packets;
    MidiBytes packet;
    for (const MidiBytes& m : messages) {
        for (const MidiBytes& event : Events(cable, m)) {
            if (packet.size() == perPacket * kEventSize) packets.push_back(std::exchange(packet, {}));
            packet.insert(packet.end(), event.begin(), event.end());
        }
    }
    if (!packet.empty()) packets.push_back(std::move(packet));
    return packets;
}

}  // namespace hardware
