// Interleaving moves every sample byte for byte to its frame and channel
// slot, and de-interleaving is its exact inverse.
#include "interleave.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

struct Layout {
    unsigned channels;
    unsigned bytesPerSample;
};

class Interleave : public ::testing::TestWithParam<Layout> {};

// A byte that names its channel, frame and position in the sample.
uint8_t SampleByte(unsigned channel, size_t frame, unsigned byte) { return uint8_t(channel * 64 + frame * 4 + byte); }

}  // namespace

TEST_P(Interleave, FramesHoldEachChannelsSampleInChannelOrderAndRoundTrip)
{
    const Layout layout = GetParam();
    constexpr size_t kFrames = 5;
    std::vector<std::vector<uint8_t>> channels(layout.channels);
    std::vector<const void*> in;
    for (unsigned c = 0; c < layout.channels; ++c) {
        for (size_t i = 0; i < kFrames; ++i) {
            for (unsigned b = 0; b < layout.bytesPerSample; ++b) channels[c].push_back(SampleByte(c, i, b));
        }
        in.push_back(channels[c].data());
    }
    std::vector<uint8_t> interleaved(kFrames * layout.channels * layout.bytesPerSample + 1, 0xEE);
    interleave(in.data(), layout.channels, kFrames, layout.bytesPerSample, interleaved.data());

    size_t at = 0;
    for (size_t i = 0; i < kFrames; ++i) {
        for (unsigned c = 0; c < layout.channels; ++c) {
            for (unsigned b = 0; b < layout.bytesPerSample; ++b, ++at) {
                ASSERT_EQ(interleaved[at], SampleByte(c, i, b)) << "frame " << i << " channel " << c;
            }
        }
    }
    EXPECT_EQ(interleaved.back(), 0xEE) << "wrote past the last frame";

    std::vector<std::vector<uint8_t>> back(layout.channels, std::vector<uint8_t>(kFrames * layout.bytesPerSample));
    std::vector<void*> out;
    for (auto& channel : back) out.push_back(channel.data());
    deinterleave(interleaved.data(), layout.channels, kFrames, layout.bytesPerSample, out.data());
    EXPECT_EQ(back, channels);
}

// A 4-channel 24-bit frame is 12 bytes in channel order 0, 1, 2, 3.
INSTANTIATE_TEST_SUITE_P(Widths, Interleave,
                         ::testing::Values(Layout{2, 2}, Layout{2, 3}, Layout{4, 2}, Layout{4, 3}, Layout{1, 3},
                                           Layout{6, 3}),
                         [](const auto& info) {
                             return std::to_string(info.param.channels) + "ch" +
                                    std::to_string(info.param.bytesPerSample * 8) + "bit";
                         });
