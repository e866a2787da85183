// The MIDI pins' own rules as their clients meet them: a message too long
// for an in pin's queue, the hold a SysEx written over several events keeps
// on its cable, and pins whose device goes away while they wait.
#include "hardware/midiinput.h"
#include "hardware/midioutput.h"
#include "km/ksobjects.h"
#include "midiclient.h"
#include "usbmidipin.h"

#include <atomic>
#include <optional>
#include <thread>

namespace {

using Bytes = MidiClient::Bytes;

// The audio device's raw MIDI pins and pipes.
constexpr ULONG kRawOutPin = 4;
constexpr ULONG kRawInPin = 6;
constexpr UCHAR kRawOutPipe = 0x03;
constexpr UCHAR kRawInPipe = 0x84;

const Bytes kNoteOn = {0x90, 0x3C, 0x64};

UsbMidiPin& PinContext(MidiClient& client)
{
    kmsim::ks::Pin* pin = kmsim::ks::PinOfFileObject(client.Pin().FileObject());
    return *static_cast<UsbMidiPin*>(pin->ks.Context);
}

// Whether the pin's Process is running with a frame queued: a writer
// inside the driver, blocked or about to be.
bool InsideProcess(MidiClient& client)
{
    kmsim::ks::Pin* pin = kmsim::ks::PinOfFileObject(client.Pin().FileObject());
    std::lock_guard guard(pin->queue.processGuard);
    return pin->queue.processing && kmsim::ks::HasQueuedFrames(pin);
}

// Reads `count` events in frames of `frameBytes`, once what the device had
// queued on the pipe has been delivered: the pin hands messages to its
// frames from its own processing, so the reads are waited for, not the
// clock.
std::vector<MidiClient::Event> ReadEvents(DriverTestBed& bed, MidiClient& in, UCHAR pipe, size_t count,
                                          ULONG frameBytes = 40)
{
    std::vector<MidiClient::Frame*> frames;
    for (size_t i = 0; i < count; ++i) frames.push_back(&in.Read(frameBytes));
    while (bed.Hardware().MidiIn(pipe).Queued() > 0) bed.Bus().StepFrames(1);
    bed.Bus().Flush();
    for (MidiClient::Frame* frame : frames) EXPECT_EQ(frame->request->Wait(), STATUS_SUCCESS);
    return in.TakeEvents();
}

Bytes SysEx(size_t length)
{
    Bytes sysex = {0xF0};
    for (size_t i = 0; i + 2 < length; ++i) sysex.push_back(uint8_t(i & 0x7F));
    sysex.push_back(0xF7);
    return sysex;
}

// ---- Messages longer than a queue record ------------------------------------

TEST(MidiInPinQueue, DropsAMessageLongerThanARecordWithADebugLineAndKeepsTheRest)
{
    DriverTestBed bed;
    ASSERT_EQ(bed.Plug(hardware::kAudioMidi), STATUS_SUCCESS);
    kmsim::KsClientHandle* filter = bed.OpenFilter();
    ASSERT_NE(filter, nullptr);
    MidiClient in(*filter, kRawInPin);
    ASSERT_EQ(in.Status(), STATUS_SUCCESS);
    UsbMidiPin& pin = PinContext(in);

    bed.Bus().StepFrames(5);
    Bytes fits = SysEx(kMidiMsgMaxData);
    Bytes tooLong = SysEx(kMidiMsgMaxData + 1);
    Bytes note = kNoteOn;
    const MidiEvent batch[] = {{ULONG(fits.size()), fits.data()},
                               {ULONG(tooLong.size()), tooLong.data()},
                               {ULONG(note.size()), note.data()}};
    // The port hands batches over at dispatch level.
    KIRQL irql;
    KeRaiseIrql(DISPATCH_LEVEL, &irql);
    EXPECT_EQ(pin.EnqueueMidiMessage(batch[1], bed.Bus().CurrentFrame()), STATUS_DATA_OVERRUN);
    pin.EnqueueMidiMessages(batch, 3, bed.Bus().CurrentFrame());
    KeLowerIrql(irql);
    EXPECT_EQ(kmsim::DebugOutput(),
              "UsbMidiPin::EnqueueMidiMessage() : message size (33) > kMidiMsgMaxData\n"
              "UsbMidiPin::EnqueueMidiMessage() : message size (33) > kMidiMsgMaxData\n");

    // What follows from the device still arrives, after the batch.
    bed.Hardware().MidiIn(kRawInPipe).QueuePacket({0x80, 0x3C, 0x00});
    auto events = ReadEvents(bed, in, kRawInPipe, 3);
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].bytes, fits);
    EXPECT_EQ(events[0].timeDeltaMs, 5u);
    EXPECT_EQ(events[1].bytes, kNoteOn);
    EXPECT_EQ(events[1].timeDeltaMs, 5u);
    EXPECT_EQ(events[2].bytes, (Bytes{0x80, 0x3C, 0x00}));
    EXPECT_GE(events[2].timeDeltaMs, 5u);
}

// ---- The SysEx hold ---------------------------------------------------------

struct Cable {
    const char* name;
    uint16_t product;
    ULONG outPin;
    UCHAR pipe;
    uint8_t cable;
};

class MidiSysExHold : public testing::TestWithParam<Cable> {
protected:
    void SetUp() override
    {
        ASSERT_EQ(m_bed.Plug(GetParam().product), STATUS_SUCCESS);
        m_filter = m_bed.OpenFilter();
        ASSERT_NE(m_filter, nullptr);
    }

    std::vector<Bytes> Received() { return m_bed.Hardware().MidiOut(GetParam().pipe).Messages(GetParam().cable); }

    // Opens a SysEx on the holder from a thread of its own, as a client
    // with a pool of writers would; returns the IRQL that thread was left at.
    KIRQL OpenSysExElsewhere(MidiClient& holder)
    {
        KIRQL left = HIGH_LEVEL;
        std::thread([&] {
            holder.Write(Bytes{0xF0, 0x41, 0x10});
            left = KeGetCurrentIrql();
        }).join();
        return left;
    }

    // Starts the blocked writer and waits until it is inside the driver;
    // gives it some frames to get its note out if nothing held it.
    void StartBlockedWriter(MidiClient& writer)
    {
        m_writer = std::thread([&] {
            m_writeStatus = writer.Write(kNoteOn).request->Wait();
            m_written = true;
        });
        while (!InsideProcess(writer) && !m_written) std::this_thread::yield();
        m_bed.Bus().StepFrames(20);
        m_bed.Bus().Flush();
    }

    void JoinWriter()
    {
        while (!m_written) {
            m_bed.Bus().StepFrames(1);
            std::this_thread::yield();
        }
        m_writer.join();
        m_bed.Bus().Flush();
    }

    DriverTestBed m_bed;
    kmsim::KsClientHandle* m_filter = nullptr;
    std::thread m_writer;
    std::atomic<bool> m_written{false};
    NTSTATUS m_writeStatus = STATUS_UNSUCCESSFUL;
};

TEST_P(MidiSysExHold, KeepsTheCableUntilTheSysExEnds)
{
    MidiClient holder(*m_filter, GetParam().outPin);
    MidiClient other(*m_filter, GetParam().outPin);
    ASSERT_EQ(holder.Status(), STATUS_SUCCESS);
    ASSERT_EQ(other.Status(), STATUS_SUCCESS);

    // A thread returns from its write at passive level, hold or not.
    EXPECT_EQ(OpenSysExElsewhere(holder), PASSIVE_LEVEL);
    StartBlockedWriter(other);
    EXPECT_FALSE(m_written);
    EXPECT_TRUE(Received().empty());

    // Ended from another thread than the one that opened it.
    holder.Write(Bytes{0x42, 0x12, 0xF7});
    JoinWriter();
    EXPECT_EQ(m_writeStatus, STATUS_SUCCESS);
    EXPECT_EQ(Received(), (std::vector<Bytes>{{0xF0, 0x41, 0x10, 0x42, 0x12, 0xF7}, kNoteOn}));
}

TEST_P(MidiSysExHold, ClosingTheHolderLetsTheWaitingPinWrite)
{
    std::optional<MidiClient> holder;
    holder.emplace(*m_filter, GetParam().outPin);
    MidiClient other(*m_filter, GetParam().outPin);
    ASSERT_EQ(holder->Status(), STATUS_SUCCESS);
    ASSERT_EQ(other.Status(), STATUS_SUCCESS);

    EXPECT_EQ(OpenSysExElsewhere(*holder), PASSIVE_LEVEL);
    StartBlockedWriter(other);
    EXPECT_FALSE(m_written);

    // The SysEx cut short is ended, so the note is not taken for part of it.
    holder.reset();
    JoinWriter();
    EXPECT_EQ(m_writeStatus, STATUS_SUCCESS);
    EXPECT_EQ(Received(), (std::vector<Bytes>{{0xF0, 0x41, 0x10, 0xF7}, kNoteOn}));
    EXPECT_TRUE(m_bed.Hardware().MidiOut(GetParam().pipe).Faults().empty());

    // The cable is free for a SysEx of the pin that waited.
    other.Write(Bytes{0xF0, 0x01});
    other.Write(Bytes{0x02, 0xF7});
    m_bed.Bus().Flush();
    EXPECT_EQ(Received().back(), (Bytes{0xF0, 0x01, 0x02, 0xF7}));
}

INSTANTIATE_TEST_SUITE_P(Ports, MidiSysExHold,
                         testing::Values(Cable{"Raw", hardware::kAudioMidi, kRawOutPin, kRawOutPipe, 0},
                                         Cable{"ClassCable1", hardware::kClassMidiSmall, 2, 0x01, 1}),
                         [](const auto& info) { return info.param.name; });

TEST(MidiSysExHoldOnOneCable, LeavesTheEndpointsOtherCablesFree)
{
    DriverTestBed bed;
    ASSERT_EQ(bed.Plug(hardware::kClassMidiSmall), STATUS_SUCCESS);
    kmsim::KsClientHandle* filter = bed.OpenFilter();
    ASSERT_NE(filter, nullptr);
    MidiClient cable0(*filter, 0);
    MidiClient cable1(*filter, 2);
    ASSERT_EQ(cable0.Status(), STATUS_SUCCESS);
    ASSERT_EQ(cable1.Status(), STATUS_SUCCESS);

    cable0.Write(Bytes{0xF0, 0x41, 0x10});
    // Would never return if the hold covered the whole endpoint.
    EXPECT_EQ(cable1.Write(kNoteOn).request->Wait(), STATUS_SUCCESS);
    cable0.Write(Bytes{0x42, 0x12, 0xF7});
    bed.Bus().Flush();
    EXPECT_EQ(bed.Hardware().MidiOut(0x01).Messages(1), std::vector<Bytes>{kNoteOn});
    EXPECT_EQ(bed.Hardware().MidiOut(0x01).Messages(0), (std::vector<Bytes>{{0xF0, 0x41, 0x10, 0x42, 0x12, 0xF7}}));
}

// ---- Unplug during MIDI I/O --------------------------------------------------

class MidiUnplug : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(m_bed.Plug(hardware::kAudioMidi), STATUS_SUCCESS);
        m_filter = m_bed.OpenFilter();
        ASSERT_NE(m_filter, nullptr);
        m_out.emplace(*m_filter, kRawOutPin);
        m_in.emplace(*m_filter, kRawInPin);
        ASSERT_EQ(m_out->Status(), STATUS_SUCCESS);
        ASSERT_EQ(m_in->Status(), STATUS_SUCCESS);
        // Input works before the cable goes.
        m_bed.Hardware().MidiIn(kRawInPipe).QueuePacket(kNoteOn);
        auto events = ReadEvents(m_bed, *m_in, kRawInPipe, 1);
        ASSERT_EQ(events.size(), 1u);
        EXPECT_EQ(events[0].bytes, kNoteOn);
    }

    // Reads queued on the in pin that nothing will answer.
    std::vector<MidiClient::Frame*> PendingReads(int count)
    {
        std::vector<MidiClient::Frame*> reads;
        for (int i = 0; i < count; ++i) reads.push_back(&m_in->Read(40));
        m_bed.Bus().StepFrames(5);
        m_bed.Bus().Flush();
        for (auto* read : reads) EXPECT_FALSE(read->request->Done());
        return reads;
    }

    DriverTestBed m_bed;
    kmsim::KsClientHandle* m_filter = nullptr;
    std::optional<MidiClient> m_out;
    std::optional<MidiClient> m_in;
};

TEST_F(MidiUnplug, EndsAWriteWaitingOnTheDeviceAndLeavesReadsToTheClient)
{
    auto reads = PendingReads(4);
    m_bed.Hardware().MidiOut(kRawOutPipe).SetAnswering(false);
    // Only the unplug can end the write's waits for a free packet buffer.
    kmsim::SetTimeoutScale(3600);
    NTSTATUS writeStatus = STATUS_UNSUCCESSFUL;
    std::thread writer([&] { writeStatus = m_out->Write(SysEx(300)).request->Wait(); });
    // Both packet buffers in flight: the write now waits for one.
    while (m_bed.Bus().Transfers(m_bed.Usb(), kRawOutPipe).pending < 2) std::this_thread::yield();

    m_bed.Bus().Unplug(m_bed.Usb());
    writer.join();
    EXPECT_EQ(writeStatus, STATUS_SUCCESS);
    m_bed.Bus().Flush();
    EXPECT_EQ(m_bed.Bus().Transfers(m_bed.Usb(), kRawOutPipe).pending, 0u);
    EXPECT_EQ(m_bed.Bus().Transfers(m_bed.Usb(), kRawInPipe).pending, 0u);

    // A write after the unplug completes too, its bytes dropped.
    EXPECT_EQ(m_out->Write(kNoteOn).request->Wait(), STATUS_SUCCESS);
    // No error reaches the in pin: its reads wait until the client stops it.
    for (auto* read : reads) EXPECT_FALSE(read->request->Done());
    EXPECT_EQ(m_in->Pin().SetState(KSSTATE_STOP), STATUS_SUCCESS);
    for (auto* read : reads) {
        EXPECT_EQ(read->request->Wait(), STATUS_CANCELLED);
        EXPECT_EQ(read->header.DataUsed, 0u);
    }
}

TEST_F(MidiUnplug, RemovalClosesPinsStillReadingOrHoldingASysEx)
{
    auto reads = PendingReads(4);
    // The SysEx is opened on a thread that is gone by the removal.
    std::thread([&] { m_out->Write(Bytes{0xF0, 0x41, 0x10}); }).join();

    m_bed.Bus().Unplug(m_bed.Usb());
    // The system closes what its clients left open.
    m_bed.Unplug();
    for (auto* read : reads) EXPECT_EQ(read->request->Wait(), STATUS_CANCELLED);
    m_out->Pin().Abandon();
    m_in->Pin().Abandon();
}

}  // namespace
