// Framed MIDI of the vendor interface: OUT packets {0x00, n, n MIDI bytes},
// IN packets {n + 1, 0x00, n MIDI bytes}.
#pragma once

#include "hardware/midiwire.h"

namespace hardware {

class FramedMidiWire : public MidiWire {
public:
    // Byte 0 of an IN packet holds n + 1.
    static constexpr size_t kMaxInPayload = 254;

    MidiFormat Format() const override { return MidiFormat::Framed; }
    void Unpack(std::span<const uint8_t> packet, std::vector<MidiPiece>& pieces,
                std::vector<std::string>& faults) const override;
    std::vector<MidiBytes> Pack(uint8_t cable, std::span<const MidiBytes> messages,
                                size_t maxPacket) override;
};

}  // namespace hardware
