// What a USB-MIDI device may send in one 4-byte event packet, written from
// the class's rules alone (not from the driver), so that the exhaustive run
// can judge the driver's unpacking and packing against it.
//
// Packet layout: byte 0 = cable << 4 | code index (CIN), bytes 1..3 = MIDI
// bytes, then zero padding. The class lets a receiver ignore the padding,
// so a device that sends non-zero padding still sends a valid event.
#pragma once

#include <cstdint>

namespace classmodel {

enum class EventClass : uint8_t {
    // CIN 0 (miscellaneous function codes) and 1 (cable events): reserved,
    // carrying no MIDI bytes; a host ignores them.
    Reserved,
    // A whole message or SysEx piece of the kind its CIN names.
    Valid,
    // CIN 0xF with a byte other than real time: the class lets a device send
    // a MIDI stream one byte per packet, but a packer only uses CIN 0xF for
    // real time, so such a byte is repacked as part of its message instead.
    SingleByte,
    // MIDI bytes that do not match their CIN (wrong status, status where a
    // data byte belongs...): no device may send it.
    Invalid,
};

// Where a host's parser must be for the event to be the next thing it packs.
enum class ParserContext : uint8_t {
    Idle,
    // Inside a SysEx, at a piece boundary: continuation and end pieces.
    InSysEx,
};

struct ModelEvent {
    EventClass eventClass;
    ParserContext context;
    // MIDI bytes the CIN carries, which the host delivers (0 to 3).
    uint8_t size;
};

ModelEvent Classify(uint32_t packet);

constexpr uint8_t Byte(uint32_t packet, int index)
{
    return uint8_t(packet >> (8 * (3 - index)));
}

}  // namespace classmodel
