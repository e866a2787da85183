// What a host does at each buffer switch, apart from the driver: the
// session decodes the recorded half into integer samples, hands both sides
// to a processor, and encodes what it wrote for the device.
#pragma once

#include <cstdint>
#include <vector>

// One buffer's samples, channel by channel.
struct ChannelBlock {
    std::vector<std::vector<int32_t>> channels;
    size_t Frames() const { return channels.empty() ? 0 : channels.front().size(); }
};

class StreamProcessor {
public:
    virtual ~StreamProcessor() = default;
    // Called once before streaming with the stream's shape.
    virtual void Prepare(size_t inputs, size_t outputs, size_t frames, double rate, unsigned bits) = 0;
    // One buffer switch, on the driver's thread. position is the index of
    // the first frame of this buffer in the host's own count (0, frames,
    // 2 frames, ...); outputs arrive zeroed.
    virtual void Process(const ChannelBlock& inputs, ChannelBlock& outputs, int64_t position) = 0;
};
