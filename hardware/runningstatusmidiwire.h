// Running-status MIDI: plain MIDI bytes in which a channel message whose
// status repeats the previous one leaves its status out, across packets.
#pragma once

#include "hardware/midiwire.h"

namespace hardware {

class RunningStatusMidiWire : public MidiWire {
public:
    MidiFormat Format() const override { return MidiFormat::RunningStatus; }
    void Unpack(std::span<const uint8_t> packet, std::vector<MidiPiece>& pieces,
                std::vector<std::string>& faults) const override;
    std::vector<MidiBytes> Pack(uint8_t cable, std::span<const MidiBytes> messages,
                                size_t maxPacket) override;

private:
    uint8_t m_lastStatus = 0;  // of what this device sent; 0 = none
};

}  // namespace hardware
