// Mixed MIDI written to a MIDI out pin and read back from the in pin its
// cable echoes to, with the bus stepped by hand (as fast as the work goes).
#pragma once

#include "kernelrig.h"
#include "midimix.h"

#include <cstdint>
#include <string>

struct LoopbackResult {
    uint64_t messages = 0;
    uint64_t bytesSent = 0;
    uint64_t bytesReceived = 0;
    uint64_t eventsRead = 0;
    uint64_t busFrames = 0;
    std::string fault;  // empty when exactly what was sent arrived, in order, with non-decreasing times
};

LoopbackResult RunMidiLoopback(KernelRig& rig, const MidiPinPair& pins, MidiMix& mix, uint64_t messages);
