#include "hardware/midistreamdecoder.h"

#include <gtest/gtest.h>

namespace hardware {
namespace {

struct StreamCase {
    const char* name;
    std::vector<MidiBytes> feeds;  // fed one after the other (packet boundaries)
    std::vector<MidiBytes> messages;
    size_t faults;
};

class MidiStreamDecoderTest : public testing::TestWithParam<StreamCase> {};

TEST_P(MidiStreamDecoderTest, CutsTheStreamIntoCompleteMessages)
{
    MidiStreamDecoder decoder;
    std::vector<MidiBytes> messages;
    std::vector<std::string> faults;
    for (const MidiBytes& feed : GetParam().feeds) decoder.Feed(feed, messages, faults);
    EXPECT_EQ(messages, GetParam().messages);
    EXPECT_EQ(faults.size(), GetParam().faults) << (faults.empty() ? "" : faults.front());
}

INSTANTIATE_TEST_SUITE_P(
    Streams, MidiStreamDecoderTest,
    testing::Values(
        StreamCase{"NoteOn", {{0x90, 0x3C, 0x64}}, {{0x90, 0x3C, 0x64}}, 0},
        StreamCase{"RunningStatusExpanded",
                   {{0x90, 0x3C, 0x64, 0x3C, 0x00}},
                   {{0x90, 0x3C, 0x64}, {0x90, 0x3C, 0x00}},
                   0},
        StreamCase{"RunningStatusAcrossPackets",
                   {{0x90, 0x3C}, {0x64, 0x3E}, {0x64}},
                   {{0x90, 0x3C, 0x64}, {0x90, 0x3E, 0x64}},
                   0},
        StreamCase{"ProgramChangeRunningStatus", {{0xC2, 0x05, 0x06}}, {{0xC2, 0x05}, {0xC2, 0x06}}, 0},
        StreamCase{"ClockInsideANoteOn",
                   {{0x90, 0x3C, 0xF8, 0x64}},
                   {{0xF8}, {0x90, 0x3C, 0x64}},
                   0},
        StreamCase{"SysExWhole", {{0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7}}, {{0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7}}, 0},
        StreamCase{"SysExAcrossPacketsWithClockInside",
                   {{0xF0, 0x01, 0x02}, {0xFE, 0x03, 0xF7}},
                   {{0xFE}, {0xF0, 0x01, 0x02, 0x03, 0xF7}},
                   0},
        StreamCase{"SysExCutOffByAStatus",
                   {{0xF0, 0x01, 0x90, 0x3C, 0x64}},
                   {{0xF0, 0x01}, {0x90, 0x3C, 0x64}},
                   1},
        StreamCase{"SystemCommonEndsRunningStatus",
                   {{0x90, 0x3C, 0x64, 0xF2, 0x10, 0x20, 0x3C, 0x00}},
                   {{0x90, 0x3C, 0x64}, {0xF2, 0x10, 0x20}},
                   2},
        StreamCase{"TuneRequestAndSongSelect", {{0xF6, 0xF3, 0x05}}, {{0xF6}, {0xF3, 0x05}}, 0},
        StreamCase{"DataWithoutStatus", {{0x3C, 0x64}}, {}, 2},
        StreamCase{"UndefinedStatusBytes", {{0xF4, 0xF5, 0xF7, 0xF9, 0xFD}}, {}, 5},
        StreamCase{"MessageCutOffByAnother",
                   {{0x90, 0x3C, 0x80, 0x3C, 0x40}},
                   {{0x80, 0x3C, 0x40}},
                   1}),
    [](const testing::TestParamInfo<StreamCase>& info) { return info.param.name; });

}  // namespace
}  // namespace hardware
