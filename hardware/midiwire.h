// The bytes a MIDI pipe carries, one variant per wire format of the
// Marvolan devices:
//   raw             plain MIDI bytes, no framing
//   framed          OUT {0x00, n, n bytes}; IN {n + 1, 0x00, n bytes}
//   running status  plain MIDI bytes, running status used across packets
//   class           USB-MIDI 4-byte event packets {cable << 4 | CIN, 3 bytes}
// Unpack splits a packet the host sent into what each cable carried; Pack
// builds the packets the device sends for complete messages on a cable.
#pragma once

#include "hardware/midimessage.h"

#include <memory>
#include <span>
#include <string>

namespace hardware {

enum class MidiFormat { Raw, Framed, RunningStatus, Class };

const char* MidiFormatName(MidiFormat format);

constexpr uint8_t kMidiCables = 16;

// What one unit of the wire (a whole packet, or one class event packet)
// carried for one cable.
struct MidiPiece {
    uint8_t cable = 0;
    MidiBytes bytes;  // MIDI bytes, as sent (running status not expanded)
    MidiBytes unit;   // the wire bytes they came in
};

class MidiWire {
public:
    virtual ~MidiWire() = default;

    virtual MidiFormat Format() const = 0;
    // Cables the format can address: 16 for class, 1 for the others.
    virtual uint8_t Cables() const { return 1; }
    // Faults of the wire (framing, code index) go to faults; nothing in the
    // packet is lost from `pieces` that the format lets a receiver read.
    virtual void Unpack(std::span<const uint8_t> packet, std::vector<MidiPiece>& pieces,
                        std::vector<std::string>& faults) const = 0;
    // Packets of at most maxPacket bytes (at least the format's smallest
    // useful packet) carrying messages on cable, in order. May keep state
    // (running status) from one call to the next.
    virtual std::vector<MidiBytes> Pack(uint8_t cable, std::span<const MidiBytes> messages,
                                        size_t maxPacket) = 0;
};

std::unique_ptr<MidiWire> MakeMidiWire(MidiFormat format);

// The plain byte-stream formats share this: the bytes cut into packets of
// at most maxPacket bytes.
std::vector<MidiBytes> SplitIntoPackets(std::span<const uint8_t> stream, size_t maxPacket);

}  // namespace hardware
