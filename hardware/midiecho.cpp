#include "hardware/midiecho.h"

namespace hardware {

void MidiEcho::Forward(uint8_t cable, std::span<const MidiBytes> messages) const
{
    MidiInput* target = m_target.load();
    if (!target || messages.empty()) return;
    // A cable the IN side cannot address (class OUT echoed to a plain IN
    // endpoint) goes out on its only cable.
    if (target->Format() != MidiFormat::Class) cable = 0;
    target->SendMessages(cable, messages);
}

}  // namespace hardware
