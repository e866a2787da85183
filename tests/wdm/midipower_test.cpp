// MIDI through power changes and removal while the paced clock runs: D3 and
// D0, and the cable pulled, while input pours in, while the device holds
// every OUT buffer with writers waiting, and while one pin holds a SysEx
// with another's write behind it; and out pins stopped or torn down while
// their write waits.
#include "hardware/midiinput.h"
#include "hardware/midioutput.h"
#include "km/kerneltime.h"
#include "km/ksobjects.h"
#include "km/pnpmanager.h"
#include "midiclient.h"
#include "pluggedfilter.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <thread>

namespace {

using Bytes = MidiClient::Bytes;

// Product 0x10: raw MIDI pins and pipes.
constexpr ULONG kRawOutPin = 4;
constexpr ULONG kRawInPin = 6;
constexpr UCHAR kRawOut = 0x03;
constexpr UCHAR kRawIn = 0x84;

const Bytes kNoteOn = {0x90, 0x3C, 0x64};
const Bytes kSysExStart = {0xF0, 0x41, 0x10};
const Bytes kSysExEnd = {0x42, 0xF7};

// Frames of the paced clock a power change or a removal gets before it is
// taken for hung.
constexpr ULONG kHangFrames = 50000;

// A note a round of input can tell apart from the others.
Bytes Note(size_t i)
{
    return {0x90, uint8_t(i & 0x7F), uint8_t(1 + (i >> 7) % 0x7F)};
}

// Whether the pin's Process is running with a frame queued: a writer inside
// the driver, blocked or about to be.
bool InsideProcess(MidiClient& client)
{
    kmsim::ks::Pin* pin = kmsim::ks::PinOfFileObject(client.Pin().FileObject());
    std::lock_guard guard(pin->queue.processGuard);
    return pin->queue.processing && kmsim::ks::HasQueuedFrames(pin);
}

class MidiPowerRace : public PluggedFilter<hardware::kAudioMidi> {
protected:
    void TearDown() override
    {
        bed.Bus().StopPacing();
        for (auto& thread : m_threads) thread.join();
        if (m_behindThread.joinable()) m_behindThread.join();
        if (m_removed) {
            // The system closed what the clients left open.
            for (auto* client : {&m_in, &m_holder, &m_behind})
                if (*client) (*client)->Pin().Abandon();
            for (auto& writer : m_writers) writer->Pin().Abandon();
        }
    }

    hardware::MidiOutput& Wire() { return bed.Hardware().MidiOut(kRawOut); }
    hardware::MidiInput& Device() { return bed.Hardware().MidiIn(kRawIn); }

    // Runs `step` on a thread of its own while the paced clock runs. A step
    // that never returns leaves nothing sane to go on with: the program
    // ends with the failure.
    void ExpectReturns(const char* what, const std::function<void()>& step)
    {
        std::atomic<bool> done{false};
        std::thread runner([&] {
            step();
            done = true;
        });
        const ULONG start = bed.Bus().CurrentFrame();
        while (!done && bed.Bus().CurrentFrame() - start < kHangFrames) std::this_thread::yield();
        if (!done) {
            fprintf(stderr, "%s did not return within %lu frames\n", what, (unsigned long)kHangFrames);
            std::_Exit(1);
        }
        runner.join();
    }

    void PowerDown()
    {
        ExpectReturns("D3", [&] { EXPECT_EQ(kmsim::SetDevicePowerState(bed.Pdo(), PowerDeviceD3), STATUS_SUCCESS); });
        // A powered-down device has nothing in flight.
        EXPECT_EQ(bed.Bus().PendingCount(bed.Usb()), 0u);
    }
    void PowerUp()
    {
        ExpectReturns("D0", [&] { EXPECT_EQ(kmsim::SetDevicePowerState(bed.Pdo(), PowerDeviceD0), STATUS_SUCCESS); });
    }
    // Pulls the cable; the system removes the device and closes its pins.
    void Remove()
    {
        ExpectReturns("removal", [&] {
            bed.Bus().Unplug(bed.Usb());
            bed.Unplug();
        });
        m_removed = true;
        EXPECT_EQ(bed.Bus().PendingCount(bed.Usb()), 0u);
    }

    // ---- Input pouring in ----
    void OpenReader()
    {
        m_in.emplace(*filter, kRawInPin);
        ASSERT_EQ(m_in->Status(), STATUS_SUCCESS);
    }
    void QueueBurst(size_t count)
    {
        for (size_t i = 0; i < count; ++i) {
            m_sent.push_back(Note(m_sent.size()));
            Device().QueuePacket(m_sent.back());
        }
    }
    // Every message the device had queued reaches the reader, once and in
    // order.
    void ExpectInputArrives()
    {
        bed.Bus().StopPacing();
        while (Device().Queued() > 0) bed.Bus().StepFrames(1);
        bed.Bus().Flush();
        std::vector<MidiClient::Frame*> reads;
        for (size_t i = 0; i < m_sent.size(); ++i) reads.push_back(&m_in->Read(40));
        for (auto* read : reads) EXPECT_EQ(read->request->Wait(), STATUS_SUCCESS);
        std::vector<Bytes> heard;
        for (auto& event : m_in->TakeEvents()) heard.push_back(event.bytes);
        EXPECT_EQ(heard, m_sent);
    }

    // ---- The device holding both OUT buffers, writers waiting ----
    void StallWithWritersWaiting(int writers)
    {
        Wire().SetAnswering(false);
        for (int i = 0; i < writers; ++i) {
            m_writers.push_back(std::make_unique<MidiClient>(*filter, kRawOutPin));
            ASSERT_EQ(m_writers.back()->Status(), STATUS_SUCCESS);
        }
        std::atomic<int> submitted{0};
        for (auto& writer : m_writers) {
            MidiClient* client = writer.get();
            m_threads.emplace_back([client, &submitted] {
                // Running status: eight notes in 17 bytes, three packets.
                Bytes notes = {0x90};
                for (uint8_t n = 0; n < 8; ++n) notes.insert(notes.end(), {uint8_t(0x30 + n), 0x40});
                auto& frame = client->Write(notes);
                ++submitted;
                frame.request->Wait();
            });
        }
        // Every write is in the driver (a removal must find them all there)
        // and the wire is stalled with transfers out.
        while (submitted < writers || bed.Bus().Transfers(bed.Usb(), kRawOut).pending < 2) {
            std::this_thread::yield();
        }
    }
    // The writers' writes end (their bytes sent, or dropped by a stopped
    // endpoint after its waits for a buffer).
    void JoinWriters()
    {
        for (auto& thread : m_threads) thread.join();
        m_threads.clear();
    }
    // A new write goes out exactly as written.
    void ExpectOutputArrives()
    {
        bed.Bus().StopPacing();
        bed.Bus().Flush();
        Wire().Clear();
        MidiClient out(*filter, kRawOutPin);
        ASSERT_EQ(out.Status(), STATUS_SUCCESS);
        EXPECT_EQ(out.Write(kNoteOn).request->Wait(), STATUS_SUCCESS);
        bed.Bus().Flush();
        EXPECT_EQ(Wire().Transfers(), std::vector<Bytes>{kNoteOn});
    }

    // ---- A SysEx held, a write behind it ----
    void HoldSysExWithAWriterBehind(kmsim::KsClientHandle& holderFilter, kmsim::KsClientHandle& behindFilter)
    {
        m_holder.emplace(holderFilter, kRawOutPin);
        m_behind.emplace(behindFilter, kRawOutPin);
        ASSERT_EQ(m_holder->Status(), STATUS_SUCCESS);
        ASSERT_EQ(m_behind->Status(), STATUS_SUCCESS);
        EXPECT_EQ(m_holder->Write(kSysExStart).request->Wait(), STATUS_SUCCESS);
        // Processing runs in the writer's own call: it blocks there.
        m_behindThread = std::thread([this] {
            m_behindStatus = m_behind->Write(kNoteOn).request->Wait();
            m_behindDone = true;
        });
        while (!InsideProcess(*m_behind) && !m_behindDone) std::this_thread::yield();
        bed.Bus().Flush();
        EXPECT_FALSE(m_behindDone);
    }
    NTSTATUS BehindStatus()
    {
        m_behindThread.join();
        return m_behindStatus;
    }
    // The SysEx ends; the write behind it follows, each exactly once.
    void ExpectSysExThenWrite()
    {
        EXPECT_EQ(m_holder->Write(kSysExEnd).request->Wait(), STATUS_SUCCESS);
        EXPECT_EQ(BehindStatus(), STATUS_SUCCESS);
        bed.Bus().StopPacing();
        bed.Bus().Flush();
        EXPECT_EQ(Wire().Messages(), (std::vector<Bytes>{{0xF0, 0x41, 0x10, 0x42, 0xF7}, kNoteOn}));
    }

    std::optional<MidiClient> m_in;
    std::vector<Bytes> m_sent;
    std::vector<std::unique_ptr<MidiClient>> m_writers;
    std::vector<std::thread> m_threads;
    std::optional<MidiClient> m_holder;
    std::optional<MidiClient> m_behind;
    std::thread m_behindThread;
    std::atomic<bool> m_behindDone{false};
    NTSTATUS m_behindStatus = STATUS_PENDING;
    bool m_removed = false;
};

// ---- Faults found at power changes ----

// A read that completed as its pipe was aborted was handed down again after
// the abort, and the stop waited for it forever.
TEST_F(MidiPowerRace, D3DuringAnInputBurstReturnsAndLosesNothing)
{
    OpenReader();
    bed.Bus().StartPacing(0);
    for (int cycle = 0; cycle < 8; ++cycle) {
        QueueBurst(24);
        PowerDown();
        PowerUp();
    }
    ExpectInputArrives();
}

// The aborted transfers' completions freed a buffer and a waiting writer's
// pump sent a packet after the abort: D3 hung, or left it in flight.
TEST_F(MidiPowerRace, D3WithTheOutPipeStalledAndWritersWaitingLeavesNothingInFlight)
{
    bed.Bus().StartPacing(0);
    for (int cycle = 0; cycle < 3 && !HasFailure(); ++cycle) {
        StallWithWritersWaiting(3);
        PowerDown();
        Wire().SetAnswering(true);
        PowerUp();
        JoinWriters();
        m_writers.clear();
    }
    ExpectOutputArrives();
}

// ---- Out pins stopped or torn down while their write waits ----

class MidiWriteStopRace : public MidiPowerRace {};

// The stopped write ends as cancelled, and its bytes are never read again.
TEST_F(MidiWriteStopRace, StoppingAPinWaitingBehindAHoldCancelsItsWrite)
{
    HoldSysExWithAWriterBehind(*filter, *filter);
    EXPECT_EQ(m_behind->Pin().SetState(KSSTATE_STOP), STATUS_SUCCESS);
    EXPECT_EQ(m_holder->Write(kSysExEnd).request->Wait(), STATUS_SUCCESS);
    EXPECT_EQ(BehindStatus(), STATUS_CANCELLED);
    bed.Bus().Flush();
    EXPECT_EQ(Wire().Messages(), (std::vector<Bytes>{{0xF0, 0x41, 0x10, 0x42, 0xF7}}));

    // The pin serves its client again once it runs.
    ASSERT_EQ(m_behind->Pin().SetState(KSSTATE_RUN), STATUS_SUCCESS);
    EXPECT_EQ(m_behind->Write(kNoteOn).request->Wait(), STATUS_SUCCESS);
    bed.Bus().Flush();
    EXPECT_EQ(Wire().Messages().back(), kNoteOn);
}

TEST_F(MidiWriteStopRace, StoppingAPinWaitingForAStalledDeviceCancelsItsWrite)
{
    Wire().SetAnswering(false);
    kmsim::SetTimeoutScale(3600);
    MidiClient out(*filter, kRawOutPin);
    ASSERT_EQ(out.Status(), STATUS_SUCCESS);
    Bytes sysex = {0xF0};
    for (uint8_t i = 0; i < 40; ++i) sysex.push_back(i);
    sysex.push_back(0xF7);
    NTSTATUS status = STATUS_PENDING;
    std::thread writer([&] { status = out.Write(sysex).request->Wait(); });
    while (bed.Bus().Transfers(bed.Usb(), kRawOut).pending < 2) std::this_thread::yield();

    EXPECT_EQ(out.Pin().SetState(KSSTATE_STOP), STATUS_SUCCESS);
    // The write still in the driver goes on from its own copy once the
    // device answers; the client's request has ended already.
    Wire().SetAnswering(true);
    writer.join();
    EXPECT_EQ(status, STATUS_CANCELLED);
    ASSERT_EQ(out.Pin().SetState(KSSTATE_RUN), STATUS_SUCCESS);
    EXPECT_EQ(out.Write(kNoteOn).request->Wait(), STATUS_SUCCESS);
    bed.Bus().Flush();
    EXPECT_EQ(Wire().Messages(), (std::vector<Bytes>{sysex, kNoteOn}));
}

// Tearing the waiting pin's filter down first used to wait for its write,
// which waited for the holder, whose close came later.
TEST_F(MidiWriteStopRace, RemovalWithASysExHeldAndAWriterBehindItReturns)
{
    kmsim::KsClientHandle* holderFilter = bed.OpenFilter();
    kmsim::KsClientHandle* behindFilter = bed.OpenFilter();
    ASSERT_NE(holderFilter, nullptr);
    ASSERT_NE(behindFilter, nullptr);
    HoldSysExWithAWriterBehind(*holderFilter, *behindFilter);
    bed.Bus().StartPacing(0);

    ExpectReturns("closing the waiting pin's filter", [&] { behindFilter->Close(); });
    EXPECT_EQ(BehindStatus(), STATUS_CANCELLED);
    Remove();
}

// ---- Input stamped as the pin enters RUN ----

class MidiStartFrameRace : public MidiPowerRace {};

// A batch stamped just before the pin's start frame was taken came out
// almost 2^32 ms late.
TEST_F(MidiStartFrameRace, InputArrivingAsThePinEntersRunIsNeverStampedBeforeIt)
{
    OpenReader();
    bed.Bus().StartPacing(0);
    for (int cycle = 0; cycle < 300; ++cycle) {
        QueueBurst(2);
        ASSERT_EQ(m_in->Pin().SetState(KSSTATE_PAUSE), STATUS_SUCCESS);
        ASSERT_EQ(m_in->Pin().SetState(KSSTATE_RUN), STATUS_SUCCESS);
    }
    bed.Bus().StopPacing();
    while (Device().Queued() > 0) bed.Bus().StepFrames(1);
    bed.Bus().Flush();
    std::vector<MidiClient::Frame*> reads;
    for (size_t i = 0; i < m_sent.size(); ++i) reads.push_back(&m_in->Read(40));
    for (auto* read : reads) EXPECT_EQ(read->request->Wait(), STATUS_SUCCESS);
    const ULONG now = bed.Bus().CurrentFrame();
    for (auto& event : m_in->TakeEvents()) EXPECT_LE(event.timeDeltaMs, now);
}

// ---- The matrix: each scenario through D3/D0 and through removal ----

enum class Scenario { InputBurst, OutStalled, SysExHeld };
enum class Ending { PowerCycle, Unplug };

class MidiPowerMatrixRace : public MidiPowerRace,
                            public testing::WithParamInterface<std::tuple<Scenario, Ending>> {};

TEST_P(MidiPowerMatrixRace, NothingIsLeftPendingServiceReturnsAndRemovalReturns)
{
    const auto [scenario, ending] = GetParam();
    switch (scenario) {
    case Scenario::InputBurst:
        OpenReader();
        QueueBurst(40);
        break;
    case Scenario::OutStalled:
        StallWithWritersWaiting(2);
        break;
    case Scenario::SysExHeld:
        HoldSysExWithAWriterBehind(*filter, *filter);
        break;
    }
    bed.Bus().StartPacing(0);

    if (ending == Ending::Unplug) {
        Remove();
        JoinWriters();
        if (scenario == Scenario::SysExHeld) {
            EXPECT_EQ(BehindStatus(), STATUS_CANCELLED);
        }
        return;
    }

    PowerDown();
    switch (scenario) {
    case Scenario::InputBurst:
        PowerUp();
        ExpectInputArrives();
        break;
    case Scenario::OutStalled:
        Wire().SetAnswering(true);
        PowerUp();
        JoinWriters();
        ExpectOutputArrives();
        break;
    case Scenario::SysExHeld:
        PowerUp();
        ExpectSysExThenWrite();
        break;
    }
    bed.Bus().StartPacing(0);
    Remove();
}

std::string PathName(const testing::TestParamInfo<std::tuple<Scenario, Ending>>& info)
{
    static const char* const kScenarios[] = {"InputBurst", "OutStalled", "SysExHeld"};
    return std::string(kScenarios[int(std::get<0>(info.param))]) +
           (std::get<1>(info.param) == Ending::PowerCycle ? "PowerCycle" : "Unplug");
}

INSTANTIATE_TEST_SUITE_P(Paths, MidiPowerMatrixRace,
                         testing::Combine(testing::Values(Scenario::InputBurst, Scenario::OutStalled,
                                                          Scenario::SysExHeld),
                                          testing::Values(Ending::PowerCycle, Ending::Unplug)),
                         PathName);

}  // namespace
