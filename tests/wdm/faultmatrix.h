// What the fault matrices share: the driver's pool, waits that give up
// instead of hanging, and the proof that a device still serves after a
// fault: audio reaches the wire and MIDI goes out and comes in.
#pragma once

#include "kernelobject.h"
#include "midiclient.h"
#include "streamclient.h"
#include "usbmidipin.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

// Product 0x10: 4-channel render on 0x01, raw MIDI out on 0x03 and in on 0x84.
namespace matrix {

constexpr ULONG kRenderPin = 0;
constexpr UCHAR kRenderEndpoint = 0x01;
constexpr ULONG kMidiOutPin = 4;
constexpr ULONG kMidiInPin = 6;
constexpr UCHAR kMidiOutPipe = 0x03;
constexpr UCHAR kMidiInPipe = 0x84;
// 10 ms of 48 kHz 24-bit 4-channel audio.
constexpr ULONG kRenderFrameBytes = 480 * 12;
const MidiClient::Bytes kNoteOn = {0x90, 0x3C, 0x64};
// Frames a render transfer may still take to reach the wire.
constexpr ULONG kTransferLag = 30;
// Real time a step that should take milliseconds gets on a loaded machine.
constexpr auto kPatience = std::chrono::seconds(20);

inline WaveFormat RenderFormat(ULONG rate = 48000, USHORT bits = 24)
{
    return PcmFormat(rate, bits, 4);
}

inline uint64_t DriverPoolBytes()
{
    return kmsim::PoolOutstanding(kObjectTag).bytes + kmsim::PoolOutstanding(kBufferTag).bytes +
           kmsim::PoolOutstanding(kMidiMessageTag).bytes;
}

// Steps the clock (unless a pacer runs it) until `done` or the patience
// is spent; says which.
inline bool StepUntil(DriverTestBed& bed, const std::function<bool()>& done)
{
    const auto giveUp = std::chrono::steady_clock::now() + kPatience;
    while (!done()) {
        if (std::chrono::steady_clock::now() > giveUp) return false;
        if (!bed.Bus().Pacing()) bed.Bus().StepFrames(1);
        std::this_thread::yield();
    }
    return true;
}

// Runs `step` on a thread of its own. A step that does not return leaves
// nothing sane to go on with: the program ends with the failure, naming it.
inline void ExpectReturns(const std::string& what, const std::function<void()>& step)
{
    std::atomic<bool> done{false};
    std::thread runner([&] {
        step();
        done = true;
    });
    const auto giveUp = std::chrono::steady_clock::now() + kPatience;
    while (!done && std::chrono::steady_clock::now() < giveUp)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (!done) {
        fprintf(stderr, "%s did not return: hung\n", what.c_str());
        fflush(stderr);
        std::_Exit(1);
    }
    runner.join();
}

// A ramp of non-zero samples for a render frame, going on from `next`.
inline std::vector<uint8_t> RampFrame(int32_t& next)
{
    std::vector<uint8_t> bytes;
    for (ULONG s = 0; s < kRenderFrameBytes / 3; ++s) PutSample(bytes, next++, 24);
    return bytes;
}

// A new render pin plays two frames of a ramp, and the ramp is on the wire.
inline void ExpectAudioServes(DriverTestBed& bed, kmsim::KsClientHandle& filter)
{
    bed.Hardware().AudioOut(kRenderEndpoint).Clear();
    StreamClient render(bed.Bus(), filter, kRenderPin, RenderFormat());
    ASSERT_EQ(render.Status(), STATUS_SUCCESS);
    ASSERT_EQ(render.Pause(), STATUS_SUCCESS);
    int32_t next = 1;
    render.Write(RampFrame(next));
    render.Write(RampFrame(next));
    ASSERT_EQ(render.Run(), STATUS_SUCCESS);
    ASSERT_TRUE(StepUntil(bed, [&] { return render.Frames().back().request->Done(); })) << "render stalled";
    for (auto& frame : render.Frames()) EXPECT_EQ(frame.request->Wait(), STATUS_SUCCESS);
    // The last frame is in a transfer still on its way to the wire.
    bed.Bus().StepFrames(kTransferLag);
    ASSERT_EQ(render.Pause(), STATUS_SUCCESS);
    int32_t expected = 1;
    for (int32_t sample : bed.Hardware().AudioOut(kRenderEndpoint).Samples())
        if (sample != 0 && sample == expected) ++expected;
    EXPECT_EQ(expected, next) << "the ramp did not reach the wire whole";
}

// A note written goes out on the wire, and one the device sends is read.
inline void ExpectMidiServes(DriverTestBed& bed, kmsim::KsClientHandle& filter)
{
    MidiClient out(filter, kMidiOutPin);
    MidiClient in(filter, kMidiInPin);
    ASSERT_EQ(out.Status(), STATUS_SUCCESS);
    ASSERT_EQ(in.Status(), STATUS_SUCCESS);
    bed.Hardware().MidiOut(kMidiOutPipe).Clear();
    out.Write(kNoteOn);
    in.Read(40);
    bed.Hardware().MidiIn(kMidiInPipe).Send(kNoteOn);
    ASSERT_TRUE(out.Drain(bed) && in.Drain(bed)) << "MIDI stalled";
    for (auto& frame : out.Frames()) EXPECT_EQ(frame.request->Wait(), STATUS_SUCCESS);
    EXPECT_EQ(bed.Hardware().MidiOut(kMidiOutPipe).Messages(0), std::vector<MidiClient::Bytes>{kNoteOn});
    auto events = in.TakeEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].bytes, kNoteOn);
}

}  // namespace matrix
