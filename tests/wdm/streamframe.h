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

// Fills the frame's header for its bytes and submits it with `code`; a
// capture frame offers its bytes as room, with nothing used yet.
inline NTSTATUS SubmitStreamFrame(kmsim::KsClientHandle& pin, StreamFrame& frame, ULONG code, bool capture)
{
    frame.header.Size = sizeof(KSSTREAM_HEADER);
    frame.header.FrameExtent = ULONG(frame.data.size());
    frame.header.DataUsed = capture ? 0 : ULONG(frame.data.size());
    frame.header.Data = frame.data.data();
    return pin.SubmitStream(code, &frame.header, sizeof(frame.header), &frame.request);
}

// Appends a frame of `bytes` to `frames` and submits it with `code`.
inline StreamFrame& QueueStreamFrame(kmsim::KsClientHandle& pin, std::deque<StreamFrame>& frames,
                                     std::vector<uint8_t> bytes, ULONG code, bool capture)
{
    StreamFrame& frame = frames.emplace_back();
    frame.data = std::move(bytes);
    NTSTATUS status = SubmitStreamFrame(pin, frame, code, capture);
    EXPECT_TRUE(NT_SUCCESS(status)) << std::hex << status;
    return frame;
}
