// Cuts a MIDI byte stream into complete messages: running status expanded,
// real-time bytes taken out wherever they occur (even inside another
// message), a SysEx collected whole. Keeps its state across packets.
// What a well-behaved sender never sends is reported as a fault, and the
// bytes concerned are dropped from the messages (the caller keeps the raw
// packets).
#pragma once

#include "hardware/midimessage.h"

#include <span>
#include <string>

namespace hardware {

class MidiStreamDecoder {
public:
    void Feed(std::span<const uint8_t> bytes, std::vector<MidiBytes>& messages,
              std::vector<std::string>& faults);

private:
    void Status(uint8_t b, std::vector<MidiBytes>& messages, std::vector<std::string>& faults);
    void Data(uint8_t b, std::vector<MidiBytes>& messages, std::vector<std::string>& faults);
    void EndSysEx(std::vector<MidiBytes>& messages);

    uint8_t m_runningStatus = 0;  // 0 = none
    MidiBytes m_message;          // message in progress (status first)
    bool m_inSysEx = false;
};

}  // namespace hardware
