#include "hardware/packetsizer.h"

#include <gtest/gtest.h>

#include <numeric>

namespace hardware {
namespace {

class NominalPacketsTest : public testing::TestWithParam<ULONG> {};

TEST_P(NominalPacketsTest, ThousandPacketsCarryOneSecondOfFrames)
{
    PacketSizer sizer;
    uint64_t frames = 0;
    for (int i = 0; i < 1000; ++i) frames += sizer.NextFrames(GetParam());
    EXPECT_EQ(frames, GetParam());
}

INSTANTIATE_TEST_SUITE_P(Rates, NominalPacketsTest,
                         testing::Values(8000u, 11025u, 22050u, 32000u, 44100u, 48000u, 88200u, 96000u));

TEST(PacketSizerTest, At48kEveryPacketHolds48Frames)
{
    PacketSizer sizer;
    for (int i = 0; i < 20; ++i) EXPECT_EQ(sizer.NextFrames(48000), 48u);
}

TEST(PacketSizerTest, At44k1NinePacketsOf44ThenOneOf45)
{
    PacketSizer sizer;
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < 9; ++i) EXPECT_EQ(sizer.NextFrames(44100), 44u) << "round " << round << " packet " << i;
        EXPECT_EQ(sizer.NextFrames(44100), 45u) << "round " << round;
    }
}

TEST(PacketSizerTest, ARateChangeStartsTheSequenceAfresh)
{
    PacketSizer sizer;
    for (int i = 0; i < 5; ++i) sizer.NextFrames(44100);
    EXPECT_EQ(sizer.NextFrames(48000), 48u);
    for (int i = 0; i < 9; ++i) EXPECT_EQ(sizer.NextFrames(44100), 44u);
    EXPECT_EQ(sizer.NextFrames(44100), 45u);
}

TEST(PacketSizerTest, APatternRepeatsIncludingZeroLengthPackets)
{
    PacketSizer sizer;
    sizer.UsePattern({48, 0, 12});
    std::vector<ULONG> got;
    for (int i = 0; i < 7; ++i) got.push_back(sizer.NextFrames(48000));
    EXPECT_EQ(got, (std::vector<ULONG>{48, 0, 12, 48, 0, 12, 48}));
    EXPECT_FALSE(sizer.Nominal());
}

TEST(PacketSizerTest, AnEmptyPatternMeansNominal)
{
    PacketSizer sizer;
    sizer.UsePattern({});
    EXPECT_TRUE(sizer.Nominal());
    EXPECT_EQ(sizer.NextFrames(96000), 96u);
}

TEST(PacketSizerTest, AHugeRateDoesNotOverflow)
{
    PacketSizer sizer;
    uint64_t frames = 0;
    for (int i = 0; i < 1000; ++i) frames += sizer.NextFrames(0xFFFFFFFF);
    EXPECT_EQ(frames, 0xFFFFFFFFull);
}

}  // namespace
}  // namespace hardware
