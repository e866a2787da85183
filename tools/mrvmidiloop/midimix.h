// Seeded mixed MIDI traffic for the long runs: every channel message, the
// system common messages, SysEx of 1 to 10,000 data bytes, and real-time
// bytes on their own and inside other messages (SysEx included).
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <random>
#include <vector>

using MidiBytes = std::vector<uint8_t>;

enum class MidiMixProfile {
    Full,
    // What a running-status endpoint carries: three-byte messages of the
    // statuses its device knows (note off and on, note on of channel 3,
    // control change).
    RunningStatusDevice,
};

class MidiMix {
public:
    MidiMix(uint64_t seed, MidiMixProfile profile) : m_random(seed), m_profile(profile) {}

    // The next message as a client writes it, real-time bytes inside included.
    MidiBytes Next();

private:
    uint32_t Below(uint32_t n) { return uint32_t(m_random() % n); }
    uint8_t Data() { return uint8_t(Below(0x80)); }
    // The defined ones: a device may drop the undefined 0xF9 and 0xFD.
    uint8_t RealTime()
    {
        static constexpr uint8_t kRealTime[] = {0xF8, 0xFA, 0xFB, 0xFC, 0xFE, 0xFF};
        return kRealTime[Below(std::size(kRealTime))];
    }
    MidiBytes Channel();
    MidiBytes SysEx();

    std::mt19937_64 m_random;
    MidiMixProfile m_profile;
};

// A MIDI stream split as a receiver sees it: real-time bytes may overtake
// the message they were sent inside, so each kind keeps its own order.
struct MidiStreams {
    MidiBytes realTime;
    MidiBytes other;

    void Add(const MidiBytes& bytes);
};
