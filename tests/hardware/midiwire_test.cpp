#include "hardware/classmidiwire.h"
#include "hardware/framedmidiwire.h"
#include "hardware/rawmidiwire.h"
#include "hardware/runningstatusmidiwire.h"

#include <gtest/gtest.h>

namespace hardware {
namespace {

// ---- Class event packets ----

struct EventCase {
    const char* name;
    uint8_t cable;
    MidiBytes message;
    std::vector<MidiBytes> events;
};

class ClassEventsTest : public testing::TestWithParam<EventCase> {};

TEST_P(ClassEventsTest, EncodesOneMessageIntoEventPackets)
{
    EXPECT_EQ(ClassMidiWire::Events(GetParam().cable, GetParam().message), GetParam().events);
}

TEST_P(ClassEventsTest, DecodesTheEventPacketsBackToTheMessageBytes)
{
    MidiBytes packet;
    for (const MidiBytes& e : GetParam().events) packet.insert(packet.end(), e.begin(), e.end());
    std::vector<MidiPiece> pieces;
    std::vector<std::string> faults;
    ClassMidiWire().Unpack(packet, pieces, faults);
    MidiBytes bytes;
    for (const MidiPiece& p : pieces) {
        EXPECT_EQ(p.cable, GetParam().cable);
        bytes.insert(bytes.end(), p.bytes.begin(), p.bytes.end());
    }
    EXPECT_EQ(bytes, GetParam().message);
    EXPECT_TRUE(faults.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Messages, ClassEventsTest,
    testing::Values(
        EventCase{"NoteOnCable1", 1, {0x90, 0x3C, 0x64}, {{0x19, 0x90, 0x3C, 0x64}}},
        EventCase{"ProgramChange", 0, {0xC2, 0x05}, {{0x0C, 0xC2, 0x05, 0x00}}},
        EventCase{"PitchBendCable15", 15, {0xE0, 0x00, 0x40}, {{0xFE, 0xE0, 0x00, 0x40}}},
        EventCase{"SysExSixBytes", 0, {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7},
                  {{0x04, 0xF0, 0x7E, 0x7F}, {0x07, 0x06, 0x01, 0xF7}}},
        EventCase{"SysExFourBytes", 0, {0xF0, 0x01, 0x02, 0xF7}, {{0x04, 0xF0, 0x01, 0x02}, {0x05, 0xF7, 0x00, 0x00}}},
        EventCase{"SysExFiveBytes", 2, {0xF0, 0x01, 0x02, 0x03, 0xF7},
                  {{0x24, 0xF0, 0x01, 0x02}, {0x26, 0x03, 0xF7, 0x00}}},
        EventCase{"EmptySysEx", 0, {0xF0, 0xF7}, {{0x06, 0xF0, 0xF7, 0x00}}},
        EventCase{"Clock", 0, {0xF8}, {{0x0F, 0xF8, 0x00, 0x00}}},
        EventCase{"TuneRequestCable3", 3, {0xF6}, {{0x35, 0xF6, 0x00, 0x00}}},
        EventCase{"SongPosition", 0, {0xF2, 0x10, 0x20}, {{0x03, 0xF2, 0x10, 0x20}}},
        EventCase{"SongSelect", 0, {0xF3, 0x05}, {{0x02, 0xF3, 0x05, 0x00}}}),
    [](const testing::TestParamInfo<EventCase>& info) { return info.param.name; });

struct ClassFaultCase {
    const char* name;
    MidiBytes packet;
    size_t pieces;
    size_t faults;
};

class ClassUnpackFaultTest : public testing::TestWithParam<ClassFaultCase> {};

TEST_P(ClassUnpackFaultTest, ReportsWhatAWellBehavedHostNeverSends)
{
    std::vector<MidiPiece> pieces;
    std::vector<std::string> faults;
    ClassMidiWire().Unpack(GetParam().packet, pieces, faults);
    EXPECT_EQ(pieces.size(), GetParam().pieces);
    EXPECT_EQ(faults.size(), GetParam().faults);
}

INSTANTIATE_TEST_SUITE_P(
    Packets, ClassUnpackFaultTest,
    testing::Values(ClassFaultCase{"ReservedCodeIndexZero", {0x00, 0x90, 0x3C, 0x64}, 0, 1},
                    ClassFaultCase{"ReservedCodeIndexOne", {0x21, 0x90, 0x3C, 0x64}, 0, 1},
                    ClassFaultCase{"TrailingRemainder", {0x09, 0x90, 0x3C, 0x64, 0x09, 0x90}, 1, 1},
                    ClassFaultCase{"CodeIndexAndStatusDisagree", {0x08, 0x90, 0x3C, 0x64}, 1, 1},
                    ClassFaultCase{"TwoGoodEvents", {0x09, 0x90, 0x3C, 0x64, 0x1B, 0xB0, 0x07, 0x7F}, 2, 0},
                    ClassFaultCase{"Empty", {}, 0, 0}),
    [](const testing::TestParamInfo<ClassFaultCase>& info) { return info.param.name; });

TEST(ClassMidiWireTest, PacksAsManyEventsAsAPacketHolds)
{
    ClassMidiWire wire;
    const std::vector<MidiBytes> messages(5, MidiBytes{0x90, 0x3C, 0x64});
    const std::vector<MidiBytes> packets = wire.Pack(2, messages, 8);
    ASSERT_EQ(packets.size(), 3u);
    EXPECT_EQ(packets[0], (MidiBytes{0x29, 0x90, 0x3C, 0x64, 0x29, 0x90, 0x3C, 0x64}));
    EXPECT_EQ(packets[2], (MidiBytes{0x29, 0x90, 0x3C, 0x64}));
}

// ---- Framed ----

TEST(FramedMidiWireTest, PacksInPacketsOfLengthPlusOneAndAZeroByte)
{
    FramedMidiWire wire;
    const std::vector<MidiBytes> packets = wire.Pack(0, std::vector<MidiBytes>{{0x90, 0x3C, 0x64}}, 64);
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0], (MidiBytes{0x04, 0x00, 0x90, 0x3C, 0x64}));
}

TEST(FramedMidiWireTest, ALongStreamFillsPacketsUpToTheirSize)
{
    FramedMidiWire wire;
    MidiBytes sysex = {0xF0};
    for (uint8_t i = 0; i < 8; ++i) sysex.push_back(i);
    sysex.push_back(0xF7);  // 10 bytes
    const std::vector<MidiBytes> packets = wire.Pack(0, std::vector<MidiBytes>{sysex}, 8);
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets[0], (MidiBytes{0x07, 0x00, 0xF0, 0, 1, 2, 3, 4}));
    EXPECT_EQ(packets[1], (MidiBytes{0x05, 0x00, 5, 6, 7, 0xF7}));
}

struct FramedOutCase {
    const char* name;
    MidiBytes packet;
    MidiBytes payload;
    size_t faults;
};

class FramedUnpackTest : public testing::TestWithParam<FramedOutCase> {};

TEST_P(FramedUnpackTest, TakesThePayloadAfterTheTwoByteHeader)
{
    std::vector<MidiPiece> pieces;
    std::vector<std::string> faults;
    FramedMidiWire().Unpack(GetParam().packet, pieces, faults);
    MidiBytes payload;
    for (const MidiPiece& p : pieces) payload.insert(payload.end(), p.bytes.begin(), p.bytes.end());
    EXPECT_EQ(payload, GetParam().payload);
    EXPECT_EQ(faults.size(), GetParam().faults);
}

INSTANTIATE_TEST_SUITE_P(
    Packets, FramedUnpackTest,
    testing::Values(FramedOutCase{"NoteOn", {0x00, 0x03, 0x90, 0x3C, 0x64}, {0x90, 0x3C, 0x64}, 0},
                    FramedOutCase{"TwelveBytes", {0x00, 12, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12},
                                  {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, 0},
                    FramedOutCase{"EmptyPayload", {0x00, 0x00}, {}, 0},
                    FramedOutCase{"NoHeader", {0x00}, {}, 1},
                    FramedOutCase{"WrongFirstByte", {0x04, 0x01, 0xF8}, {0xF8}, 1},
                    FramedOutCase{"LengthBeyondPacket", {0x00, 0x05, 0x90, 0x3C}, {0x90, 0x3C}, 1},
                    FramedOutCase{"BytesAfterPayload", {0x00, 0x01, 0xF8, 0xF8}, {0xF8}, 1}),
    [](const testing::TestParamInfo<FramedOutCase>& info) { return info.param.name; });

// ---- Raw and running status ----

TEST(RawMidiWireTest, SendsEveryMessageWithItsStatusInPacketsOfAtMostMaxPacket)
{
    RawMidiWire wire;
    const std::vector<MidiBytes> messages = {{0x90, 0x3C, 0x64}, {0x90, 0x3E, 0x64}, {0xF8}};
    const std::vector<MidiBytes> packets = wire.Pack(0, messages, 4);
    EXPECT_EQ(packets, (std::vector<MidiBytes>{{0x90, 0x3C, 0x64, 0x90}, {0x3E, 0x64, 0xF8}}));
}

TEST(RawMidiWireTest, UnpacksThePacketAsItIs)
{
    std::vector<MidiPiece> pieces;
    std::vector<std::string> faults;
    RawMidiWire().Unpack(MidiBytes{0x3C, 0x64, 0x90}, pieces, faults);
    ASSERT_EQ(pieces.size(), 1u);
    EXPECT_EQ(pieces[0].bytes, (MidiBytes{0x3C, 0x64, 0x90}));
    EXPECT_EQ(pieces[0].cable, 0);
}

TEST(RunningStatusMidiWireTest, LeavesOutARepeatedStatusAcrossCalls)
{
    RunningStatusMidiWire wire;
    EXPECT_EQ(wire.Pack(0, std::vector<MidiBytes>{{0x90, 0x3C, 0x64}}, 8),
              (std::vector<MidiBytes>{{0x90, 0x3C, 0x64}}));
    EXPECT_EQ(wire.Pack(0, std::vector<MidiBytes>{{0x90, 0x3E, 0x64}, {0xF8}, {0x90, 0x40, 0x64}}, 8),
              (std::vector<MidiBytes>{{0x3E, 0x64, 0xF8, 0x40, 0x64}}));
}

TEST(RunningStatusMidiWireTest, SystemMessagesEndRunningStatus)
{
    RunningStatusMidiWire wire;
    const std::vector<MidiBytes> messages = {{0xB0, 0x07, 0x7F}, {0xF6}, {0xB0, 0x07, 0x00}};
    EXPECT_EQ(wire.Pack(0, messages, 8),
              (std::vector<MidiBytes>{{0xB0, 0x07, 0x7F, 0xF6, 0xB0, 0x07, 0x00}}));
}

}  // namespace
}  // namespace hardware
