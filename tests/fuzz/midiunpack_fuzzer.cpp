// Received packets of arbitrary content and length through each input
// format: payloads stay inside the packet, events carry what their code
// index says.
#include "midiwireformat.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) return 0;
    const int format = data[0] % 3;
    // A private copy of exactly the received length, so ASan sees any read
    // beyond it.
    std::vector<UCHAR> packet(data + 1, data + size);
    const ULONG received = ULONG(packet.size());
    MidiParser parser;

    const UCHAR* payload = nullptr;
    ULONG length = 0;
    switch (format) {
    case 0:
    case 1: {
        const bool ok = format == 0 ? RawPayload(packet.data(), received, &payload, &length)
                                    : FramedPayload(packet.data(), received, &payload, &length);
        if (!ok) break;
        if (payload < packet.data() || payload + length > packet.data() + received) abort();
        for (ULONG i = 0; i < length; ++i) parser.Feed(payload[i]);
        break;
    }
    default:
        UnpackClassEvents(
            packet.data(), received,
            [](void*, ULONG cable, const UCHAR*, ULONG eventSize) {
                if (cable > 15 || eventSize == 0 || eventSize > 3) abort();
            },
            nullptr);
        break;
    }
    return 0;
}
