#include "hardware/midistreamdecoder.h"

namespace hardware {

void MidiStreamDecoder::Feed(std::span<const uint8_t> bytes, std::vector<MidiBytes>& messages,
                             std::vector<std::string>& faults)
{
    for (uint8_t b : bytes) {
        if (IsRealTime(b)) {
            if (MidiMessageLength(b) == 0)
                faults.push_back("undefined real-time byte " + HexByte(b) + " dropped");
            else
                messages.push_back({b});  // interrupts nothing
        } else if (b >= 0x80) {
            Status(b, messages, faults);
        } else {
            Data(b, messages, faults);
        }
    }
}

void MidiStreamDecoder::Status(uint8_t b, std::vector<MidiBytes>& messages,
                               std::vector<std::string>& faults)
{
    if (m_inSysEx) {
        if (b == 0xF7) {
            m_message.push_back(b);
            EndSysEx(messages);
            return;
        }
        faults.push_back("SysEx of " + std::to_string(m_message.size()) + " bytes cut off by " + HexByte(b));
        EndSysEx(messages);
    } else if (!m_message.empty()) {
        faults.push_back("message " + HexByte(m_message[0]) + " cut off by " + HexByte(b));
    }
    m_message.clear();

    if (b == 0xF0) {
        m_inSysEx = true;
        m_runningStatus = 0;
        m_message.push_back(b);
        return;
    }
    const size_t length = MidiMessageLength(b);
    if (length == 0) {  // 0xF4, 0xF5, a stray 0xF7
        faults.push_back("status " + HexByte(b) + " dropped");
        m_runningStatus = 0;
        return;
    }
    // System common messages end running status; channel messages set it.
    m_runningStatus = b < 0xF0 ? b : 0;
    if (length == 1) {
        messages.push_back({b});
        return;
    }
    m_message.push_back(b);
}

void MidiStreamDecoder::Data(uint8_t b, std::vector<MidiBytes>& messages,
                             std::vector<std::string>& faults)
{
    if (m_inSysEx) {
        m_message.push_back(b);
        return;
    }
    if (m_message.empty()) {
        if (m_runningStatus == 0) {
            faults.push_back("data byte " + HexByte(b) + " without a status");
            return;
        }
        m_message.push_back(m_runningStatus);
    }
    m_message.push_back(b);
    if (m_message.size() == MidiMessageLength(m_message[0])) {
        messages.push_back(std::move(m_message));
        m_message.clear();
    }
}

void MidiStreamDecoder::EndSysEx(std::vector<MidiBytes>& messages)
{
    messages.push_back(std::move(m_message));
    m_message.clear();
    m_inSysEx = false;
}

}  // namespace hardware
