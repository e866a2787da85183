// Raw MIDI: a packet is a piece of the plain MIDI byte stream. The device
// sends every message with its status byte.
#pragma once

#include "hardware/midiwire.h"

namespace hardware {

class RawMidiWire : public MidiWire {
public:
    MidiFormat Format() const override { return MidiFormat::Raw; }
    void Unpack(std::span<const uint8_t> packet, std::vector<MidiPiece>& pieces,
                std::vector<std::string>& faults) const override;
    std::vector<MidiBytes> Pack(uint8_t cable, std::span<const MidiBytes> messages,
                                size_t maxPacket) override;
};

}  // namespace hardware
