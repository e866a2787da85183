// The MIDI parser and the three packet formats, byte for byte.
#include "midiwireformat.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Bytes = std::vector<UCHAR>;

// Everything the parser reports for a byte stream, one message per entry.
std::vector<Bytes> Parse(const Bytes& input, UCHAR chunk = kDefaultSysExChunk)
{
    MidiParser parser(chunk);
    std::vector<Bytes> messages;
    for (UCHAR b : input) {
        MidiMessageView m = parser.Feed(b);
        if (m.kind != kMidiNothing && m.length > 0) messages.emplace_back(m.bytes, m.bytes + m.length);
    }
    return messages;
}

// Class output of a byte stream on one cable: every event packet.
std::vector<Bytes> PackClass(const Bytes& input, ULONG cable)
{
    MidiParser parser(kClassSysExChunk);
    std::vector<Bytes> packets;
    ULONG offset = 0;
    while (offset < input.size()) {
        UCHAR packet[4];
        ULONG filled = 0;
        ULONG taken = ULONG(input.size() - offset);
        PackClassEvent(parser, cable, packet, sizeof(packet), &filled, input.data() + offset, &taken);
        offset += taken;
        if (filled) packets.emplace_back(packet, packet + filled);
    }
    return packets;
}

struct ClassCase {
    const char* name;
    ULONG cable;
    Bytes input;
    std::vector<Bytes> packets;
};

class ClassOutput : public testing::TestWithParam<ClassCase> {};

TEST_P(ClassOutput, PacksOneMessagePerEventPacket)
{
    EXPECT_EQ(PackClass(GetParam().input, GetParam().cable), GetParam().packets);
}

INSTANTIATE_TEST_SUITE_P(
    Messages, ClassOutput,
    testing::Values(
        ClassCase{"NoteOnCable1", 1, {0x90, 0x3C, 0x64}, {{0x19, 0x90, 0x3C, 0x64}}},
        ClassCase{"ProgramChange", 0, {0xC2, 0x05}, {{0x0C, 0xC2, 0x05, 0x00}}},
        ClassCase{"SysExSixBytes", 0, {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7}, {{0x04, 0xF0, 0x7E, 0x7F}, {0x07, 0x06, 0x01, 0xF7}}},
        ClassCase{"SysExEndAlone", 0, {0xF0, 0x01, 0x02, 0xF7}, {{0x04, 0xF0, 0x01, 0x02}, {0x05, 0xF7, 0x00, 0x00}}},
        ClassCase{"RunningStatus", 0, {0x90, 0x3C, 0x64, 0x3E, 0x64}, {{0x09, 0x90, 0x3C, 0x64}, {0x09, 0x90, 0x3E, 0x64}}},
        ClassCase{"ClockInsideNoteOn", 0, {0x90, 0x3C, 0xF8, 0x64}, {{0x0F, 0xF8, 0x00, 0x00}, {0x09, 0x90, 0x3C, 0x64}}},
        ClassCase{"TuneRequestCable3", 3, {0xF6}, {{0x35, 0xF6, 0x00, 0x00}}},
        ClassCase{"SongPosition", 0, {0xF2, 0x10, 0x20}, {{0x03, 0xF2, 0x10, 0x20}}}),
    [](const auto& info) { return info.param.name; });

TEST(ClassOutput, NeverWritesPastAPacketThatIsNotAMultipleOfFour)
{
    MidiParser parser(kClassSysExChunk);
    UCHAR packet[7 + 1];
    packet[7] = 0xAA;  // guard
    ULONG filled = 0;
    const UCHAR notes[] = {0x90, 0x3C, 0x64, 0x90, 0x3E, 0x64};
    ULONG taken = 3;
    EXPECT_TRUE(PackClassEvent(parser, 0, packet, 7, &filled, notes, &taken));
    EXPECT_EQ(filled, 4u);
    taken = 3;
    EXPECT_TRUE(PackClassEvent(parser, 0, packet, 7, &filled, notes + 3, &taken));
    EXPECT_EQ(taken, 0u) << "no room for a second event: nothing may be consumed";
    EXPECT_EQ(filled, 4u);
    EXPECT_EQ(packet[7], 0xAA);
}

struct ClassInputEvent {
    ULONG cable;
    Bytes bytes;
    bool operator==(const ClassInputEvent&) const = default;
};

std::vector<ClassInputEvent> UnpackClass(const Bytes& packet)
{
    std::vector<ClassInputEvent> events;
    UnpackClassEvents(
        packet.data(), ULONG(packet.size()),
        [](void* context, ULONG cable, const UCHAR* bytes, ULONG size) {
            static_cast<std::vector<ClassInputEvent>*>(context)->push_back({cable, Bytes(bytes, bytes + size)});
        },
        &events);
    return events;
}

TEST(ClassInput, CarriesTheBytesTheCodeIndexSays)
{
    EXPECT_EQ(UnpackClass({0x2B, 0xB0, 0x07, 0x7F}), (std::vector<ClassInputEvent>{{2, {0xB0, 0x07, 0x7F}}}));
}

TEST(ClassInput, IgnoresReservedCodeIndexesAndATrailingRemainder)
{
    const Bytes packet = {0x00, 1, 2, 3, 0x01, 1, 2, 3, 0x0F, 0xF8, 0, 0, 0x09, 0x90};
    EXPECT_EQ(UnpackClass(packet), (std::vector<ClassInputEvent>{{0, {0xF8}}}));
}

TEST(ClassInput, TenBytesAreTwoPackets)
{
    const Bytes packet = {0x09, 0x90, 0x3C, 0x64, 0x08, 0x80, 0x3C, 0x00, 0x09, 0x90};
    EXPECT_EQ(UnpackClass(packet).size(), 2u);
}

TEST(Parser, ExpandsRunningStatus)
{
    EXPECT_EQ(Parse({0x90, 0x3C, 0x64, 0x3C, 0x00}), (std::vector<Bytes>{{0x90, 0x3C, 0x64}, {0x90, 0x3C, 0x00}}));
}

TEST(Parser, CutsSysExIntoChunksEndingWithF7)
{
    Bytes sysex = {0xF0};
    for (int i = 0; i < 28; ++i) sysex.push_back(UCHAR(i));
    sysex.push_back(0xF7);
    const auto messages = Parse(sysex);
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[0].size(), 12u);
    EXPECT_EQ(messages[1].size(), 12u);
    EXPECT_EQ(messages[2].size(), 6u);
    EXPECT_EQ(messages[0][0], 0xF0);
    EXPECT_EQ(messages[2].back(), 0xF7);
}

TEST(Parser, AStatusByteInsideSysExClosesItAndIsDropped)
{
    EXPECT_EQ(Parse({0xF0, 0x01, 0x90, 0x3C, 0x64}), (std::vector<Bytes>{{0xF0, 0x01, 0xF7}}));
}

TEST(Parser, IgnoresUndefinedStatusesAndStrayData)
{
    EXPECT_TRUE(Parse({0x3C, 0xF4, 0x01, 0xF5, 0xF7, 0x02}).empty());
}

TEST(Parser, RealTimeBytesPassThroughAMessage)
{
    EXPECT_EQ(Parse({0x90, 0x3C, 0xFE, 0x64}), (std::vector<Bytes>{{0xFE}, {0x90, 0x3C, 0x64}}));
}

TEST(RawFormat, OutputPacketsHoldAtMostEightBytes)
{
    const Bytes input(10, 0x42);
    std::vector<ULONG> sizes;
    ULONG offset = 0;
    while (offset < input.size()) {
        UCHAR packet[64];
        ULONG filled = 0, taken = ULONG(input.size() - offset);
        PackRaw(packet, sizeof(packet), &filled, input.data() + offset, &taken);
        offset += taken;
        sizes.push_back(filled);
    }
    EXPECT_EQ(sizes, (std::vector<ULONG>{8, 2}));
}

TEST(FramedFormat, OutputCarriesTwelveBytesPerPacket)
{
    Bytes input(20);
    for (size_t i = 0; i < input.size(); ++i) input[i] = UCHAR(i);
    std::vector<Bytes> packets;
    ULONG offset = 0;
    while (offset < input.size()) {
        UCHAR packet[64];
        ULONG filled = 0, taken = ULONG(input.size() - offset);
        PackFramed(packet, sizeof(packet), &filled, input.data() + offset, &taken);
        offset += taken;
        packets.emplace_back(packet, packet + filled);
    }
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets[0].size(), 14u);
    EXPECT_EQ(packets[0][0], 0x00);
    EXPECT_EQ(packets[0][1], 12);
    EXPECT_EQ(packets[1][1], 8);
    EXPECT_EQ(packets[1][2], 12) << "the second packet continues where the first stopped";
}

TEST(FramedFormat, InputPayloadFollowsTheLengthByte)
{
    const Bytes packet = {0x04, 0xAA, 0x90, 0x3C, 0x64};
    const UCHAR* payload = nullptr;
    ULONG length = 0;
    ASSERT_TRUE(FramedPayload(packet.data(), ULONG(packet.size()), &payload, &length));
    EXPECT_EQ(Bytes(payload, payload + length), (Bytes{0x90, 0x3C, 0x64}));
}

TEST(FramedFormat, RejectsAZeroOrOverlongLengthByte)
{
    const UCHAR* payload = nullptr;
    ULONG length = 0;
    const Bytes zero = {0x00, 0x00, 0x90};
    const Bytes overlong = {0x05, 0x00, 0x90, 0x3C};
    EXPECT_FALSE(FramedPayload(zero.data(), ULONG(zero.size()), &payload, &length));
    EXPECT_FALSE(FramedPayload(overlong.data(), ULONG(overlong.size()), &payload, &length));
}

}  // namespace
