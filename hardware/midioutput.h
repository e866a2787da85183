// A bulk or interrupt MIDI OUT endpoint of a virtual device: it decodes
// each packet the host sends in the endpoint's wire format and records,
// per cable, the raw wire units, the byte stream with running status
// expanded and the messages; it can stop answering (the host's transfer
// then stays pending) and echo what it received to an IN endpoint.
#pragma once

#include "hardware/midiecho.h"
#include "hardware/midistreamdecoder.h"

#include <array>
#include <functional>

namespace hardware {

class MidiOutput {
public:
    MidiOutput(UCHAR endpointAddress, MidiFormat format, size_t maxPacket);

    UCHAR EndpointAddress() const { return m_endpointAddress; }
    MidiFormat Format() const { return m_wire->Format(); }
    size_t MaxPacket() const { return m_maxPacket; }

    // Called when the endpoint answers again; the device points it at the
    // bus so a held transfer is taken without waiting for a frame.
    void SetWake(std::function<void()> wake);

    // ---- Scripting ----
    // While not answering, every transfer the host sends stays pending.
    void SetAnswering(bool answering);
    // Echo to target (null: off).
    void EchoTo(MidiInput* target) { m_echo.Connect(target); }

    // ---- The wire ----
    // False while not answering (nothing taken, nothing recorded).
    bool Receive(std::span<const uint8_t> transfer);

    // ---- Observation ----
    // USB packets as received (a transfer longer than the endpoint's
    // packet size counts as several packets).
    std::vector<MidiBytes> Transfers() const;
    // Wire units of one cable: class event packets, or whole packets.
    std::vector<MidiBytes> Packets(uint8_t cable = 0) const;
    // The MIDI bytes of one cable, each message with its status byte.
    MidiBytes Stream(uint8_t cable = 0) const;
    std::vector<MidiBytes> Messages(uint8_t cable = 0) const;
    // What the host sent that a well-behaved sender would not.
    std::vector<std::string> Faults() const;
    // Transfers refused while not answering (each retry counts).
    ULONG Refused() const;
    void Clear();

private:
    struct Cable {
        MidiStreamDecoder decoder;
        std::vector<MidiBytes> packets;
        std::vector<MidiBytes> messages;
    };

    const UCHAR m_endpointAddress;
    const size_t m_maxPacket;
    const std::unique_ptr<MidiWire> m_wire;
    MidiEcho m_echo;
    mutable std::mutex m_lock;
    std::function<void()> m_wake;
    bool m_answering = true;
    ULONG m_refused = 0;
    std::vector<MidiBytes> m_transfers;
    std::array<Cable, kMidiCables> m_cables;
    std::vector<std::string> m_faults;
};

}  // namespace hardware
