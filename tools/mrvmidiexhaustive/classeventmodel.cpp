#include "classeventmodel.h"

namespace classmodel {
namespace {

// MIDI bytes carried per CIN.
constexpr uint8_t kSize[16] = {
    0, 0,     // reserved
    2, 3,     // two- and three-byte system common
    3,        // SysEx starts or continues
    1, 2, 3,  // single-byte system common or SysEx end with 1; SysEx end with 2, 3
    3, 3, 3, 3, 2, 2, 3,  // note off, note on, poly pressure, control, program, channel pressure, bend
    1,        // single byte
};

constexpr bool IsData(uint8_t b) { return b < 0x80; }

ModelEvent Make(EventClass c, ParserContext context, uint8_t cin)
{
    return {c, context, kSize[cin]};
}

}  // namespace

ModelEvent Classify(uint32_t packet)
{
    const uint8_t cin = Byte(packet, 0) & 0x0F;
    const uint8_t b1 = Byte(packet, 1);
    const uint8_t b2 = Byte(packet, 2);
    const uint8_t b3 = Byte(packet, 3);
    const auto valid = [cin](ParserContext context = ParserContext::Idle) {
        return Make(EventClass::Valid, context, cin);
    };
    // A SysEx piece begins the message (0xF0) or continues an open one.
    const auto sysexPiece = [&]() { return valid(b1 == 0xF0 ? ParserContext::Idle : ParserContext::InSysEx); };
    const ModelEvent invalid = Make(EventClass::Invalid, ParserContext::Idle, cin);

    switch (cin) {
    case 0x0:
    case 0x1: return Make(EventClass::Reserved, ParserContext::Idle, cin);
    case 0x2: return (b1 == 0xF1 || b1 == 0xF3) && IsData(b2) ? valid() : invalid;
    case 0x3: return b1 == 0xF2 && IsData(b2) && IsData(b3) ? valid() : invalid;
    case 0x4: return (b1 == 0xF0 || IsData(b1)) && IsData(b2) && IsData(b3) ? sysexPiece() : invalid;
    case 0x5:
        if (b1 == 0xF6) return valid();
        return b1 == 0xF7 ? valid(ParserContext::InSysEx) : invalid;
    case 0x6: return (b1 == 0xF0 || IsData(b1)) && b2 == 0xF7 ? sysexPiece() : invalid;
    case 0x7: return (b1 == 0xF0 || IsData(b1)) && IsData(b2) && b3 == 0xF7 ? sysexPiece() : invalid;
    case 0xC:
    case 0xD: return b1 >> 4 == cin && IsData(b2) ? valid() : invalid;
    case 0xF: return b1 >= 0xF8 ? valid() : Make(EventClass::SingleByte, ParserContext::Idle, cin);
    default:  // 0x8 .. 0xB, 0xE: three-byte channel messages
        return b1 >> 4 == cin && IsData(b2) && IsData(b3) ? valid() : invalid;
    }
}

}  // namespace classmodel
