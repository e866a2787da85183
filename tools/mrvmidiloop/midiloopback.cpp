#include "midiloopback.h"

#include "midipinclient.h"

#include <cstdio>
#include <thread>

namespace {

constexpr size_t kWritesQueued = 64;
constexpr size_t kReadsQueued = 32;
constexpr ULONG kReadFrameBytes = 256;
// MIDI bytes written but not yet read back. The echoing device holds only
// so many packets for its IN pipe and drops the rest, as a real one would
// when its output runs ahead of its input: the writer waits for the loop.
constexpr uint64_t kBytesInFlight = 4096;
// Bus frames without a byte arriving before the run gives up on what is
// missing.
constexpr uint64_t kStallFrames = 20000;

std::string Describe(const char* what, const MidiBytes& sent, const MidiBytes& got)
{
    size_t at = 0;
    while (at < sent.size() && at < got.size() && sent[at] == got[at]) ++at;
    char text[160];
    std::snprintf(text, sizeof text, "%s: %zu bytes sent, %zu received, first difference at byte %zu", what,
                  sent.size(), got.size(), at);
    return text;
}

}  // namespace

LoopbackResult RunMidiLoopback(KernelRig& rig, const MidiPinPair& pins, MidiMix& mix, uint64_t messages)
{
    LoopbackResult result;
    MidiPinClient out(*rig.Filter(), pins.outPin, pins.hidden);
    MidiPinClient in(*rig.Filter(), pins.inPin, pins.hidden);
    if (!NT_SUCCESS(out.Status()) || !NT_SUCCESS(in.Status())) {
        result.fault = "a MIDI pin did not open and run";
        return result;
    }
    MidiStreams sent, got;
    std::vector<MidiPinClient::Event> events, unused;
    NTSTATUS failed = STATUS_SUCCESS;
    ULONG lastTime = 0;
    uint64_t quietFrames = 0;
    const auto complete = [&] {
        return got.other.size() >= sent.other.size() && got.realTime.size() >= sent.realTime.size();
    };
    while (result.messages < messages || out.Queued() > 0 || !complete()) {
        while (result.messages < messages && out.Queued() < kWritesQueued &&
               result.bytesSent - result.bytesReceived < kBytesInFlight) {
            const MidiBytes message = mix.Next();
            sent.Add(message);
            result.bytesSent += message.size();
            ++result.messages;
            if (!NT_SUCCESS(out.Write(message))) failed = STATUS_UNSUCCESSFUL;
        }
        while (in.Queued() < kReadsQueued) {
            if (!NT_SUCCESS(in.Read(kReadFrameBytes))) failed = STATUS_UNSUCCESSFUL;
        }
        rig.Bus().StepFrames(1);
        rig.Bus().Flush();
        ++result.busFrames;
        // The pins complete frames on the kernel-streaming worker thread.
        std::this_thread::yield();
        out.TakeCompleted(&unused, &failed);
        events.clear();
        in.TakeCompleted(&events, &failed);
        for (const auto& event : events) {
            if (event.timeDeltaMs < lastTime && result.fault.empty()) result.fault = "an event's time went backwards";
            lastTime = event.timeDeltaMs;
            got.Add(event.bytes);
            result.bytesReceived += event.bytes.size();
        }
        result.eventsRead += events.size();
        quietFrames = events.empty() ? quietFrames + 1 : 0;
        if (!NT_SUCCESS(failed)) {
            result.fault = "a stream request failed";
            break;
        }
        if (quietFrames > kStallFrames) break;
    }
    if (result.fault.empty() && got.other != sent.other) result.fault = Describe("MIDI bytes", sent.other, got.other);
    if (result.fault.empty() && got.realTime != sent.realTime)
        result.fault = Describe("real-time bytes", sent.realTime, got.realTime);
    return result;
}
