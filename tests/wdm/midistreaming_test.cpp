// MIDI through the driver's pins: written to an out pin, echoed by the
// device to its MIDI IN endpoint, read back from an in pin, for every
// endpoint variant; and the pins' own rules for frames, times and SysEx.
#include "hardware/midiinput.h"
#include "hardware/midioutput.h"
#include "midiclient.h"
#include "pluggedfilter.h"

#include <chrono>
#include <thread>

namespace {

using Bytes = MidiClient::Bytes;

// Steps the clock until the client has read `bytes` MIDI bytes, keeping
// `depth` read frames queued. The pins hand messages over on the
// kernel-streaming worker thread, which a loaded machine may not run for a
// while: progress is waited for, not counted in frames, and a scenario that
// never gets there gives up after 20 seconds.
std::vector<MidiClient::Event> ReadUntil(DriverTestBed& bed, MidiClient& in, size_t bytes, ULONG frameBytes = 40,
                                         int depth = 32)
{
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    std::vector<MidiClient::Event> events;
    size_t got = 0;
    int queued = 0;
    while (got < bytes && std::chrono::steady_clock::now() < giveUp) {
        while (queued < depth) {
            in.Read(frameBytes);
            ++queued;
        }
        bed.Bus().StepFrames(1);
        bed.Bus().Flush();
        std::this_thread::yield();
        for (auto& event : in.TakeEvents()) {
            got += event.bytes.size();
            events.push_back(std::move(event));
            --queued;
        }
    }
    return events;
}

Bytes Concatenate(const std::vector<MidiClient::Event>& events)
{
    Bytes all;
    for (const auto& event : events) all.insert(all.end(), event.bytes.begin(), event.bytes.end());
    return all;
}

// Mixed traffic: notes (the second with running status, written expanded
// by the reader), control and program changes, a clock, and SysEx of 2 to
// 300 bytes.
std::vector<Bytes> MixedMessages()
{
    std::vector<Bytes> messages = {{0x90, 0x3C, 0x64}, {0x90, 0x3E, 0x64}, {0xB0, 0x07, 0x7F}, {0xC1, 0x05},
                                   {0xF8},             {0x80, 0x3C, 0x00}, {0xE0, 0x00, 0x40}};
    for (size_t length : {2u, 5u, 13u, 300u}) {
        Bytes sysex = {0xF0};
        for (size_t i = 0; i + 2 < length; ++i) sysex.push_back(uint8_t(i % 0x7F));
        sysex.push_back(0xF7);
        messages.push_back(sysex);
    }
    messages.push_back({0x92, 0x40, 0x01});
    return messages;
}

struct RoundTrip {
    const char* name;
    uint16_t product;
    ULONG outPin;
    ULONG inPin;
    bool hidden;
};

class MidiRoundTrip : public testing::TestWithParam<RoundTrip> {};

TEST_P(MidiRoundTrip, ReadsBackExactlyWhatWasWritten)
{
    const RoundTrip& c = GetParam();
    DriverTestBed bed;
    ASSERT_EQ(bed.Plug(c.product), STATUS_SUCCESS);
    bed.Hardware().EchoMidi(true);
    kmsim::KsClientHandle* filter = bed.OpenFilter();
    ASSERT_NE(filter, nullptr);
    MidiClient out(*filter, c.outPin, c.hidden);
    MidiClient in(*filter, c.inPin, c.hidden);
    ASSERT_EQ(out.Status(), STATUS_SUCCESS);
    ASSERT_EQ(in.Status(), STATUS_SUCCESS);

    Bytes expected;
    for (const Bytes& message : MixedMessages()) expected.insert(expected.end(), message.begin(), message.end());
    // A write returns once its bytes are in transfers, and a pipe carries
    // only so many packets a frame: the writer runs beside the clock.
    std::thread writer([&] {
        for (const Bytes& message : MixedMessages()) out.Write(message);
    });
    auto events = ReadUntil(bed, in, expected.size());
    writer.join();
    EXPECT_TRUE(out.Drain(bed));
    const Bytes got = Concatenate(events);
    EXPECT_EQ(got.size(), expected.size());
    const auto diverge = std::mismatch(got.begin(), got.end(), expected.begin(), expected.end());
    EXPECT_TRUE(diverge.first == got.end() && diverge.second == expected.end())
        << "first difference at byte " << (diverge.first - got.begin());
    for (size_t i = 1; i < events.size(); ++i) EXPECT_LE(events[i - 1].timeDeltaMs, events[i].timeDeltaMs);
}

INSTANTIATE_TEST_SUITE_P(Variants, MidiRoundTrip,
                         testing::Values(RoundTrip{"Raw", hardware::kAudioMidi, 4, 6, false},
                                         RoundTrip{"RawHidden", hardware::kRawMidiA, 0, 2, true},
                                         RoundTrip{"ClassCable0", hardware::kClassMidiSmall, 0, 4, false},
                                         RoundTrip{"ClassCable1", hardware::kClassMidiSmall, 2, 6, false},
                                         RoundTrip{"KinetraCable2", hardware::kClassMidiSmall, 8, 10, true},
                                         RoundTrip{"ClassGeneric", hardware::kClassCompliant, 4, 6, false},
                                         RoundTrip{"Framed", hardware::kClassCompliant, 8, 10, false}),
                         [](const auto& info) { return info.param.name; });

class MidiRunningStatus : public PluggedFilter<hardware::kRunningStatusMidi> {};

TEST_F(MidiRunningStatus, CarriesOnlyItsThreeByteMessagesAndDropsTheRestCleanly)
{
    MidiClient out(*filter, 0);
    ASSERT_EQ(out.Status(), STATUS_SUCCESS);
    for (const Bytes& message : std::vector<Bytes>{{0x90, 0x3C, 0x64}, {0x90, 0x3E, 0x64}, {0x91, 0x3C, 0x64},
                                                   {0xC0, 0x05}, {0xB0, 0x07, 0x10}})
        out.Write(message);
    EXPECT_TRUE(out.Drain(bed));
    // A frame completes once its bytes are in submitted transfers; the
    // device takes them on the bus's worker.
    bed.Bus().Flush();
    EXPECT_EQ(bed.Hardware().MidiOut(0x02).Stream(), (Bytes{0x90, 0x3C, 0x64, 0x90, 0x3E, 0x64, 0xB0, 0x07, 0x10}));
    // The status goes out only when it changes.
    Bytes wire;
    for (const Bytes& transfer : bed.Hardware().MidiOut(0x02).Transfers()) wire.insert(wire.end(), transfer.begin(), transfer.end());
    EXPECT_EQ(wire, (Bytes{0x90, 0x3C, 0x64, 0x3E, 0x64, 0xB0, 0x07, 0x10}));
}

class MidiInPin : public PluggedFilter<hardware::kAudioMidi> {};

TEST_F(MidiInPin, AMessageLargerThanAFrameArrivesInPiecesWithOneTime)
{
    MidiClient in(*filter, 6);
    ASSERT_EQ(in.Status(), STATUS_SUCCESS);
    // A 12-byte SysEx chunk into frames with room for four bytes each.
    const Bytes sysex = {0xF0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0xF7};
    bed.Hardware().MidiIn(0x84).QueuePacket(sysex);
    auto events = ReadUntil(bed, in, sysex.size(), 12, 8);
    ASSERT_EQ(events.size(), 3u);
    for (const auto& event : events) {
        EXPECT_EQ(event.bytes.size(), 4u);
        EXPECT_EQ(event.timeDeltaMs, events[0].timeDeltaMs);
    }
    EXPECT_EQ(Concatenate(events), sysex);
}

TEST_F(MidiInPin, TimesCountFromTheLastEntryIntoRun)
{
    MidiClient in(*filter, 6);
    ASSERT_EQ(in.Status(), STATUS_SUCCESS);
    bed.Bus().StepFrames(250);
    bed.Hardware().MidiIn(0x84).QueuePacket({0x90, 0x3C, 0x64});
    // Delivered now, in frame 250, before the clock moves on.
    bed.Bus().Flush();
    auto events = ReadUntil(bed, in, 3);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].timeDeltaMs, 250u);

    ASSERT_EQ(in.Pin().SetState(KSSTATE_PAUSE), STATUS_SUCCESS);
    bed.Bus().StepFrames(100);
    ASSERT_EQ(in.Pin().SetState(KSSTATE_RUN), STATUS_SUCCESS);
    bed.Bus().StepFrames(7);
    bed.Hardware().MidiIn(0x84).QueuePacket({0x80, 0x3C, 0x00});
    bed.Bus().Flush();
    events = ReadUntil(bed, in, 3);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].timeDeltaMs, 7u);
}

class MidiOutPin : public PluggedFilter<hardware::kAudioMidi> {};

TEST_F(MidiOutPin, SendsOnlyTheFirstEventOfAFrame)
{
    MidiClient out(*filter, 4);
    ASSERT_EQ(out.Status(), STATUS_SUCCESS);
    out.Write(std::vector<Bytes>{{0x90, 0x3C, 0x64}, {0x80, 0x3C, 0x00}});
    EXPECT_TRUE(out.Drain(bed));
    bed.Bus().Flush();
    EXPECT_EQ(bed.Hardware().MidiOut(0x03).Stream(), (Bytes{0x90, 0x3C, 0x64}));
}

}  // namespace
