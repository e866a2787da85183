#include "hardware/midiwire.h"

#include "hardware/classmidiwire.h"
#include "hardware/framedmidiwire.h"
#include "hardware/rawmidiwire.h"
#include "hardware/runningstatusmidiwire.h"

#include <algorithm>

namespace hardware {

const char* MidiFormatName(MidiFormat format)
{
    switch (format) {
    case MidiFormat::Raw: return "raw";
    case MidiFormat::Framed: return "framed";
    case MidiFormat::RunningStatus: return "running status";
    case MidiFormat::Class: return "class";
    }
    return "?";
}

std::unique_ptr<MidiWire> MakeMidiWire(MidiFormat format)
{
    switch (format) {
    case MidiFormat::Framed: return std::make_unique<FramedMidiWire>();
    case MidiFormat::RunningStatus: return std::make_unique<RunningStatusMidiWire>();
    case MidiFormat::Class: return std::make_unique<ClassMidiWire>();
    case MidiFormat::Raw: break;
    }
    return std::make_unique<RawMidiWire>();
}

std::vector<MidiBytes> SplitIntoPackets(std::span<const uint8_t> stream, size_t maxPacket)
{
    std::vector<MidiBytes> packets;
    const size_t size = std::max<size_t>(maxPacket, 1);
    for (size_t at = 0; at < stream.size(); at += size) {
        const auto piece = stream.subspan(at, std::min(size, stream.size() - at));
        packets.emplace_back(piece.begin(), piece.end());
    }
    return packets;
}

}  // namespace hardware
