// USB-MIDI class event packets: 4 bytes each, byte 0 = cable << 4 | code
// index number (CIN), then up to 3 MIDI bytes padded with zeros. One
// message per event packet; a SysEx goes in pieces of 3 bytes (CIN 4) and
// ends with a piece of 1, 2 or 3 bytes (CIN 5, 6, 7) holding the 0xF7.
#pragma once

#include "hardware/midiwire.h"

namespace hardware {

class ClassMidiWire : public MidiWire {
public:
    static constexpr size_t kEventSize = 4;

    // MIDI bytes an event packet of this code index carries (0 for the
    // reserved 0 and 1).
    static size_t CodeIndexBytes(uint8_t cin);
    // The event packets of one complete message on cable.
    static std::vector<MidiBytes> Events(uint8_t cable, const MidiBytes& message);

    MidiFormat Format() const override { return MidiFormat::Class; }
    uint8_t Cables() const override { return kMidiCables; }
    void Unpack(std::span<const uint8_t> packet, std::vector<MidiPiece>& pieces,
                std::vector<std::string>& faults) const override;
    std::vector<MidiBytes> Pack(uint8_t cable, std::span<const MidiBytes> messages,
                                size_t maxPacket) override;
};

}  // namespace hardware
