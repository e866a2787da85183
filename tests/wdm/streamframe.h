// One frame a test client queues on a pin: the stream header, the bytes it
// points at, and the request that carries it.
#pragma once

#include "km/ksclient.h"

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <vector>

struct StreamFrame {
    KSSTREAM_HEADER header{};
    std::vector<uint8_t> data;
    std::unique_ptr<kmsim::KsStreamRequest> request;
};

// Appends a frame of `bytes` to `frames` and submits it with `code`; a
// capture frame offers its bytes as room, with nothing used yet.
inline StreamFrame& QueueStreamFrame(kmsim::KsClientHandle& pin, std::deque<StreamFrame>& frames,
                                     std::vector<uint8_t> bytes, ULONG code, bool capture)
{
    StreamFrame& frame = frames.emplace_back();
    frame.data = std::move(bytes);
    frame.header.Size = sizeof(KSSTREAM_HEADER);
    frame.header.FrameExtent = ULONG(frame.data.size());
    frame.header.DataUsed = capture ? 0 : ULONG(frame.data.size());
    frame.header.Data = frame.data.data();
    NTSTATUS status = pin.SubmitStream(code, &frame.header, sizeof(frame.header), &frame.request);
    EXPECT_TRUE(NT_SUCCESS(status)) << std::hex << status;
    return frame;
}
