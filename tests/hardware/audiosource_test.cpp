#include "hardware/audiosource.h"

#include "hardware/sample24.h"

#include <gtest/gtest.h>

#include <cmath>

namespace hardware {
namespace {

using Bytes = std::vector<uint8_t>;

// Room the host leaves for one stereo packet (49 frames and two spare).
constexpr size_t kRoom = 51 * 6;

struct Packet {
    ULONG length;
    Bytes bytes;
};

Packet Take(AudioSource& source, ULONG frame, ULONG rate = 48000, size_t room = kRoom)
{
    Bytes buffer(room, 0xEE);
    const ULONG length = source.Produce(frame, rate, buffer);
    buffer.resize(length);
    return {length, buffer};
}

TEST(AudioSourceTest, SilenceFillsNominalPacketsWithZeros)
{
    AudioSource source(0x82, 2);
    const Packet p = Take(source, 10);
    EXPECT_EQ(p.length, 48u * 6);
    EXPECT_EQ(p.bytes, Bytes(48 * 6, 0));
}

TEST(AudioSourceTest, At44k1AThousandPacketsCarry44100Frames)
{
    AudioSource source(0x82, 2);
    ULONG frames = 0;
    std::vector<ULONG> firstTen;
    for (ULONG f = 0; f < 1000; ++f) {
        const ULONG n = Take(source, f, 44100).length / 6;
        if (f < 10) firstTen.push_back(n);
        frames += n;
    }
    EXPECT_EQ(frames, 44100u);
    EXPECT_EQ(firstTen, (std::vector<ULONG>{44, 44, 44, 44, 44, 44, 44, 44, 44, 45}));
}

TEST(AudioSourceTest, TheRampCountsOnAcrossPacketsAndChannels)
{
    AudioSource source(0x82, 2);
    source.SetRamp(3);
    std::vector<int32_t> all;
    for (ULONG f = 0; f < 4; ++f) {
        const std::vector<int32_t> part = DecodeSamples24(Take(source, f).bytes);
        all.insert(all.end(), part.begin(), part.end());
    }
    ASSERT_EQ(all.size(), 4u * 48 * 2);
    for (size_t i = 0; i < all.size(); ++i) ASSERT_EQ(all[i], int32_t(3 * i)) << "sample " << i;
}

TEST(AudioSourceTest, TheRampWrapsAt24Bits)
{
    EXPECT_EQ(AudioSource::RampValue(0x7FFFFF), 0x7FFFFF);
    EXPECT_EQ(AudioSource::RampValue(0x800000), -0x800000);
    EXPECT_EQ(AudioSource::RampValue(0x1000000), 0);
    EXPECT_EQ(AudioSource::RampValue(2, -1), -2);
}

TEST(AudioSourceTest, TheSineHasItsPeriodAndAmplitudeOnEveryChannel)
{
    AudioSource source(0x82, 2);
    source.SetSine(1000, 0.5);  // 48 samples a period at 48 kHz
    const std::vector<int32_t> s = DecodeSamples24(Take(source, 0).bytes);
    const auto half = int32_t(std::lround(0.5 * kSampleMax));
    EXPECT_EQ(s[0], 0);
    EXPECT_NEAR(s[12 * 2], half, 1);      // quarter period, left
    EXPECT_NEAR(s[12 * 2 + 1], half, 1);  // and right
    EXPECT_NEAR(s[36 * 2], -half, 1);     // three quarters
    // The next packet continues the phase: it starts at zero again.
    const std::vector<int32_t> next = DecodeSamples24(Take(source, 1).bytes);
    EXPECT_EQ(next[0], 0);
    EXPECT_NEAR(next[12 * 2], half, 1);
}

struct PatternCase {
    std::vector<ULONG> pattern;
    size_t room;
    std::vector<ULONG> lengths;  // bytes of the packets sent
};

class PacketPatternTest : public testing::TestWithParam<PatternCase> {};

TEST_P(PacketPatternTest, SendsTheScriptedLengthsCutToTheRoom)
{
    AudioSource source(0x82, 2);
    source.SetRamp();
    source.SetPacketPattern(GetParam().pattern);
    std::vector<ULONG> lengths;
    for (ULONG f = 0; f < GetParam().lengths.size(); ++f)
        lengths.push_back(Take(source, f, 48000, GetParam().room).length);
    EXPECT_EQ(lengths, GetParam().lengths);
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, PacketPatternTest,
    testing::Values(PatternCase{{48, 0, 47, 49}, kRoom, {288, 0, 282, 294, 288}},  // zero-length and short
                    PatternCase{{100}, kRoom, {306, 306}},                         // cut to the room: 51 frames
                    PatternCase{{48}, 20, {18}},                                   // room of 3 frames and 2 bytes
                    PatternCase{{1}, 0, {0}}));                                    // no room at all

TEST(AudioSourceTest, AZeroLengthPacketDoesNotLoseRampSamples)
{
    AudioSource source(0x82, 1);
    source.SetRamp();
    source.SetPacketPattern({2, 0, 2});
    Take(source, 0);
    Take(source, 1);
    EXPECT_EQ(DecodeSamples24(Take(source, 2).bytes), (std::vector<int32_t>{2, 3}));
}

TEST(AudioSourceTest, BackToNominalAfterAPattern)
{
    AudioSource source(0x82, 2);
    source.SetPacketPattern({3});
    EXPECT_EQ(Take(source, 0).length, 18u);
    source.SetNominalPackets();
    EXPECT_EQ(Take(source, 1).length, 288u);
}

TEST(AudioSourceTest, RecordsEverythingItSent)
{
    AudioSource source(0x82, 2);
    source.SetRamp();
    source.SetPacketPattern({1, 0});
    Take(source, 5);
    Take(source, 6);
    const std::vector<AudioPacket> sent = source.Sent();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].frame, 5u);
    EXPECT_EQ(sent[0].bytes, (Bytes{0, 0, 0, 1, 0, 0}));
    EXPECT_TRUE(sent[1].bytes.empty());
    EXPECT_EQ(source.SentSamples(), (std::vector<int32_t>{0, 1}));
    source.ClearSent();
    EXPECT_EQ(source.SentCount(), 0u);
}

// A 4-channel frame whose channel c holds base + c.
Bytes QuadFrames(int frames, int base)
{
    Bytes b;
    for (int f = 0; f < frames; ++f)
        for (int c = 0; c < 4; ++c) {
            uint8_t s[3];
            WriteSample24(s, base + f * 10 + c);
            b.insert(b.end(), s, s + 3);
        }
    return b;
}

TEST(AudioSourceTest, LoopbackPlaysChannelsZeroAndOneOfTheRenderPacketDelayFramesEarlier)
{
    AudioSink render(0x01, 4);
    AudioSource capture(0x82, 2);
    capture.SetLoopback(render, 3);
    render.Receive(100, QuadFrames(45, 1000));

    const Packet p = Take(capture, 103, 44100);
    ASSERT_EQ(p.length, 45u * 6);  // as many frames as the render packet had
    const std::vector<int32_t> s = DecodeSamples24(p.bytes);
    for (int f = 0; f < 45; ++f) {
        EXPECT_EQ(s[2 * f], 1000 + f * 10) << "frame " << f;
        EXPECT_EQ(s[2 * f + 1], 1000 + f * 10 + 1) << "frame " << f;
    }
}

TEST(AudioSourceTest, LoopbackSendsNominalSilenceForAFrameTheRenderSideMissed)
{
    AudioSink render(0x01, 4);
    AudioSource capture(0x82, 2);
    capture.SetLoopback(render, 2);
    render.Receive(100, QuadFrames(48, 5));
    const Packet p = Take(capture, 101);
    EXPECT_EQ(p.bytes, Bytes(48 * 6, 0));
}

TEST(AudioSourceTest, LoopbackCutsALongRenderPacketToTheRoom)
{
    AudioSink render(0x01, 4);
    AudioSource capture(0x82, 2);
    capture.SetLoopback(render, 0);
    render.Receive(7, QuadFrames(60, 0));
    EXPECT_EQ(Take(capture, 7, 48000, kRoom).length, kRoom);
}

TEST(AudioSourceTest, LoopbackOfAStereoRenderEndpointOntoMoreChannelsLeavesTheRestSilent)
{
    AudioSink render(0x03, 2);
    AudioSource capture(0x84, 4);
    capture.SetLoopback(render, 1);
    render.Receive(1, Bytes{1, 0, 0, 2, 0, 0});
    EXPECT_EQ(DecodeSamples24(Take(capture, 2).bytes), (std::vector<int32_t>{1, 2, 0, 0}));
}

}  // namespace
}  // namespace hardware
