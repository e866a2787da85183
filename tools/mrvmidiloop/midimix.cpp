#include "midimix.h"

#include <cmath>

MidiBytes MidiMix::Channel()
{
    // Note off, note on, poly pressure, control change, program change,
    // channel pressure, pitch bend.
    static constexpr uint8_t kAll[] = {0x80, 0x90, 0xA0, 0xB0, 0xC0, 0xD0, 0xE0};
    const uint8_t high = kAll[Below(std::size(kAll))];
    MidiBytes message = {uint8_t(high | Below(16)), Data()};
    if (high != 0xC0 && high != 0xD0) message.push_back(Data());
    return message;
}

MidiBytes MidiMix::SysEx()
{
    // Lengths spread evenly over the orders of magnitude, 1 to 10,000.
    const double exponent = std::uniform_real_distribution<double>(0.0, 4.0)(m_random);
    const size_t length = std::min<size_t>(10000, size_t(std::pow(10.0, exponent)));
    MidiBytes message = {0xF0};
    for (size_t i = 0; i < length; ++i) message.push_back(Data());
    message.push_back(0xF7);
    return message;
}

MidiBytes MidiMix::Next()
{
    if (m_profile == MidiMixProfile::RunningStatusDevice) {
        static constexpr uint8_t kStatuses[] = {0x80, 0x90, 0x92, 0xB0};
        return {kStatuses[Below(std::size(kStatuses))], Data(), Data()};
    }
    MidiBytes message;
    const uint32_t pick = Below(100);
    if (pick < 60) {
        message = Channel();
    } else if (pick < 72) {
        // Time code quarter frame, song position, song select, tune request.
        static constexpr uint8_t kCommon[] = {0xF1, 0xF2, 0xF3, 0xF6};
        const uint8_t status = kCommon[Below(std::size(kCommon))];
        message = {status};
        if (status != 0xF6) message.push_back(Data());
        if (status == 0xF2) message.push_back(Data());
    } else if (pick < 82) {
        message = {RealTime()};
    } else if (pick < 85) {
        message = SysEx();
    } else {
        message = Channel();
    }
    // Real time may come between any two bytes of a message.
    if (message.size() > 1 && Below(4) == 0) {
        const size_t at = 1 + Below(uint32_t(message.size() - 1));
        message.insert(message.begin() + ptrdiff_t(at), RealTime());
    }
    return message;
}

void MidiStreams::Add(const MidiBytes& bytes)
{
    for (uint8_t b : bytes) (b >= 0xF8 ? realTime : other).push_back(b);
}
