#include "streamingformat.h"

#include "descriptorwalk.h"

namespace {
constexpr UCHAR kAsGeneral = 0x01;
constexpr UCHAR kFormatType = 0x02;
constexpr UCHAR kFormatTypeI = 0x01;
constexpr USHORT kPcmFormatTag = 0x0001;
constexpr ULONG kPcmFormatBit = 0x00000001;
constexpr UCHAR kAudioClass2Protocol = 0x20;

// Shortest descriptors whose fields are read, by layout.
constexpr ULONG kGeneral1Length = 7;   // ... wFormatTag
constexpr ULONG kFormat1Length = 8;    // ... bSamFreqType
constexpr ULONG kGeneral2Length = 11;  // ... bmFormats, bNrChannels
constexpr ULONG kFormat2Length = 6;    // ... bSubslotSize, bBitResolution

ULONG Read24(const UCHAR* p)
{
    return ULONG(p[0]) | ULONG(p[1]) << 8 | ULONG(p[2]) << 16;
}

ULONG Read32(const UCHAR* p)
{
    return Read24(p) | ULONG(p[3]) << 24;
}

// Audio class 1.0: the general descriptor names PCM, the type I format
// descriptor carries the layout and the sampling frequencies.
bool ReadFormat1(const UCHAR* general, const UCHAR* type, StreamingFormat* format)
{
    if (general[0] < kGeneral1Length || type[0] < kFormat1Length) return false;
    if (USHORT(general[5] | general[6] << 8) != kPcmFormatTag || type[3] != kFormatTypeI) return false;
    format->channels = type[4];
    format->subframeBytes = type[5];
    format->bitResolution = type[6];
    const ULONG count = type[7];
    if (count == 0) {
        // A continuous range: lower and upper bound.
        if (type[0] < kFormat1Length + 6) return false;
        format->continuous = true;
        format->lowestRate = Read24(type + 8);
        format->highestRate = Read24(type + 11);
        return format->lowestRate <= format->highestRate;
    }
    if (type[0] < kFormat1Length + 3 * count) return false;
    format->rates = type + kFormat1Length;
    format->rateCount = count;
    return true;
}

// Audio class 2.0: the general descriptor names PCM and the channels, the
// type I format descriptor the slot layout; rates belong to a clock.
bool ReadFormat2(const UCHAR* general, const UCHAR* type, StreamingFormat* format)
{
    if (general[0] < kGeneral2Length || type[0] < kFormat2Length) return false;
    if (general[5] != kFormatTypeI || !(Read32(general + 6) & kPcmFormatBit) || type[3] != kFormatTypeI)
        return false;
    format->channels = general[10];
    format->subframeBytes = type[4];
    format->bitResolution = type[5];
    return true;
}
}  // namespace

bool StreamingFormat::DeclaresRate(ULONG rate) const
{
    if (continuous) return rate >= lowestRate && rate <= highestRate;
    for (ULONG i = 0; i < rateCount; ++i)
        if (Read24(rates + 3 * i) == rate) return true;
    return false;
}

bool ReadStreamingFormat(PUSB_INTERFACE_DESCRIPTOR setting, const void* end, StreamingFormat* format)
{
    *format = StreamingFormat{};
    DescriptorWalk walk(setting, end);
    const UCHAR* first = walk.Next();
    if (!first || first[0] < sizeof(USB_INTERFACE_DESCRIPTOR)) return false;

    // The first general and format descriptors of the setting count.
    const UCHAR* general = nullptr;
    const UCHAR* type = nullptr;
    while (const UCHAR* d = walk.Next()) {
        if (d[1] == DescriptorWalk::kInterface) break;
        if (d[1] != DescriptorWalk::kCsInterface || d[0] < 3) continue;
        if (d[2] == kAsGeneral && !general) general = d;
        if (d[2] == kFormatType && !type) type = d;
    }
    if (!general || !type) return false;
    return setting->bInterfaceProtocol == kAudioClass2Protocol ? ReadFormat2(general, type, format)
                                                               : ReadFormat1(general, type, format);
}
