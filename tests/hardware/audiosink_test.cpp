#include "hardware/audiosink.h"

#include <gtest/gtest.h>

namespace hardware {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(AudioSinkTest, RecordsEachPacketWithItsFrameAsReceived)
{
    AudioSink sink(0x01, 2);
    const Bytes first = {1, 2, 3, 4, 5, 6};
    sink.Receive(100, first);
    sink.Receive(101, {});
    const std::vector<AudioPacket> packets = sink.Packets();
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets[0].frame, 100u);
    EXPECT_EQ(packets[0].bytes, first);
    EXPECT_EQ(packets[1].frame, 101u);
    EXPECT_TRUE(packets[1].bytes.empty());
}

struct SampleCase {
    Bytes wire;
    int32_t value;
};

class SampleDecodeTest : public testing::TestWithParam<SampleCase> {};

TEST_P(SampleDecodeTest, ReadsSigned24BitLittleEndian)
{
    AudioSink sink(0x01, 1);
    sink.Receive(0, GetParam().wire);
    EXPECT_EQ(sink.Samples(), std::vector<int32_t>{GetParam().value});
}

INSTANTIATE_TEST_SUITE_P(Values, SampleDecodeTest,
                         testing::Values(SampleCase{{0x00, 0x00, 0x00}, 0},
                                         SampleCase{{0xFF, 0xFF, 0x7F}, 0x7FFFFF},
                                         SampleCase{{0x00, 0x00, 0x80}, -0x800000},
                                         SampleCase{{0xFF, 0xFF, 0xFF}, -1},
                                         SampleCase{{0xFF, 0x34, 0x12}, 0x1234FF},
                                         SampleCase{{0x01, 0x00, 0x00}, 1}));

TEST(AudioSinkTest, SplitsInterleavedFramesIntoChannels)
{
    AudioSink sink(0x01, 4);
    Bytes packet;
    for (int frame = 0; frame < 3; ++frame)
        for (int channel = 0; channel < 4; ++channel) packet.insert(packet.end(), {uint8_t(frame * 4 + channel), 0, 0});
    sink.Receive(7, packet);
    EXPECT_EQ(sink.ChannelSamples(0), (std::vector<int32_t>{0, 4, 8}));
    EXPECT_EQ(sink.ChannelSamples(3), (std::vector<int32_t>{3, 7, 11}));
    EXPECT_TRUE(sink.ChannelSamples(4).empty());
}

TEST(AudioSinkTest, AMisalignedPacketDoesNotShiftTheChannelsAfterIt)
{
    AudioSink sink(0x01, 2);
    sink.Receive(1, Bytes{1, 0, 0, 2, 0, 0, 9, 9});  // one frame and two stray bytes
    sink.Receive(2, Bytes{3, 0, 0, 4, 0, 0});
    EXPECT_EQ(sink.ChannelSamples(0), (std::vector<int32_t>{1, 3}));
    EXPECT_EQ(sink.ChannelSamples(1), (std::vector<int32_t>{2, 4}));
    EXPECT_EQ(sink.MisalignedPackets(), 1u);
    EXPECT_EQ(sink.Bytes().size(), 14u);  // the raw recording keeps everything
}

TEST(AudioSinkTest, FindsAPacketByFrameAcrossTheWrapOfTheFrameCounter)
{
    AudioSink sink(0x01, 1);
    sink.Receive(0xFFFFFFFE, Bytes{1, 0, 0});
    sink.Receive(0xFFFFFFFF, Bytes{2, 0, 0});
    sink.Receive(0, Bytes{3, 0, 0});
    sink.Receive(1, Bytes{4, 0, 0});
    EXPECT_EQ(sink.PacketAt(0xFFFFFFFF), (Bytes{2, 0, 0}));
    EXPECT_EQ(sink.PacketAt(0), (Bytes{3, 0, 0}));
    EXPECT_FALSE(sink.PacketAt(2).has_value());
    EXPECT_FALSE(sink.PacketAt(0xFFFFFFF0).has_value());
}

TEST(AudioSinkTest, TheHistoryLimitDropsTheOldestPacketsAndCountsThem)
{
    AudioSink sink(0x01, 1);
    sink.SetHistoryLimit(3);
    for (ULONG f = 0; f < 5; ++f) sink.Receive(f, Bytes{uint8_t(f), 0, 0});
    EXPECT_EQ(sink.PacketCount(), 3u);
    EXPECT_EQ(sink.DroppedPackets(), 2u);
    EXPECT_EQ(sink.Samples(), (std::vector<int32_t>{2, 3, 4}));
    EXPECT_FALSE(sink.PacketAt(1).has_value());
}

TEST(AudioSinkTest, ClearForgetsTheRecording)
{
    AudioSink sink(0x01, 2);
    sink.Receive(1, Bytes{1, 2});
    sink.Clear();
    EXPECT_EQ(sink.PacketCount(), 0u);
    EXPECT_EQ(sink.MisalignedPackets(), 0u);
}

}  // namespace
}  // namespace hardware
