// Sends what a MIDI OUT endpoint received back out of an IN endpoint,
// re-encoded in the IN endpoint's format, on the cable it arrived on.
#pragma once

#include "hardware/midiinput.h"

#include <atomic>

namespace hardware {

class MidiEcho {
public:
    // Null turns the echo off. The target must outlive the echo.
    void Connect(MidiInput* target) { m_target.store(target); }
    bool Connected() const { return m_target.load() != nullptr; }
    void Forward(uint8_t cable, std::span<const MidiBytes> messages) const;

private:
    std::atomic<MidiInput*> m_target = nullptr;
};

}  // namespace hardware
