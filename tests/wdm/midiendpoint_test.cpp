// MIDI endpoints and ports seen from the pins and the device's wire: how the
// pump shares packets between cables and gives up on a pipe that takes
// nothing, what a failed read leaves running, how many pins a port feeds,
// and running-status packets merged while the device holds them.
#include "hardware/midiinput.h"
#include "hardware/midioutput.h"
#include "km/ksdevice.h"
#include "km/pnpmanager.h"
#include "midiclient.h"
#include "midiendpoint.h"
#include "midiport.h"
#include "pluggedfilter.h"
#include "usbaudiodevice.h"
#include "usbmidipin.h"

#include <chrono>
#include <functional>
#include <thread>

namespace {

using Bytes = MidiClient::Bytes;

// Product 0x10: raw MIDI pins and pipes.
constexpr ULONG kRawOutPin = 4;
constexpr ULONG kRawInPin = 6;
constexpr UCHAR kRawOut = 0x03;
constexpr UCHAR kRawIn = 0x84;
// Product 0x0B: the class endpoint's two OUT cables share pipe 0x01.
constexpr ULONG kCable0OutPin = 0;
constexpr ULONG kCable1OutPin = 2;
constexpr UCHAR kClassOut = 0x01;
// Product 0x0E.
constexpr ULONG kRunningStatusOutPin = 0;
constexpr UCHAR kRunningStatusOut = 0x02;

// The driver's port behind a pin of the filter.
MidiPort* PortForPin(kmsim::KsClientHandle& filter, ULONG pinId)
{
    kmsim::ks::Device* device = kmsim::ks::DeviceOfFunctionalDeviceObject(filter.DeviceObject());
    auto* context = device ? static_cast<UsbAudioDevice*>(device->ks.Context) : nullptr;
    return context ? context->PortForPin(pinId) : nullptr;
}

// The driver's context of an open pin.
UsbMidiPin* PinContext(MidiClient& client)
{
    auto* pin = static_cast<kmsim::ks::Pin*>(client.Pin().FileObject()->FsContext);
    return pin ? static_cast<UsbMidiPin*>(pin->ks.Context) : nullptr;
}

// Read while the writers run: only whether their bytes wait matters.
ULONG PendingBytes(const MidiPort& port)
{
    const UCHAR* data = nullptr;
    const KIRQL irql = port.Endpoint()->AcquirePending();
    const ULONG length = port.PeekPending(&data);
    port.Endpoint()->ReleasePending(irql);
    return length;
}

// Polls a condition another thread makes true; false when it never does.
bool Eventually(const std::function<bool()>& condition)
{
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > giveUp) return false;
        std::this_thread::yield();
    }
    return true;
}

// Steps the clock until every write of the client has completed.
void Drain(DriverTestBed& bed, MidiClient& out)
{
    EXPECT_TRUE(out.Drain(bed));
    bed.Bus().Flush();
}

// An in pin with read frames kept queued, and what it has read.
struct Reader {
    std::unique_ptr<MidiClient> client;
    int queued = 0;
    std::vector<Bytes> heard;
};
using Readers = std::vector<std::unique_ptr<Reader>>;

std::unique_ptr<Reader> OpenReader(kmsim::KsClientHandle& filter, ULONG pinId)
{
    auto reader = std::make_unique<Reader>();
    reader->client = std::make_unique<MidiClient>(filter, pinId);
    EXPECT_EQ(reader->client->Status(), STATUS_SUCCESS);
    return reader;
}

// Runs the clock while the readers read, until `done` holds; then a few
// frames more for anything late. The pins hand messages over on the
// kernel-streaming worker thread, so progress is waited for, not counted in
// frames; a scenario that never gets there gives up after a while.
void Listen(DriverTestBed& bed, Readers& readers, const std::function<bool()>& done)
{
    constexpr int kDepth = 4;
    constexpr int kLateFrames = 20;
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    int late = -1;
    while (late != 0) {
        for (auto& reader : readers) {
            if (!reader) continue;
            for (; reader->queued < kDepth; ++reader->queued) reader->client->Read(40);
        }
        bed.Bus().StepFrames(1);
        bed.Bus().Flush();
        std::this_thread::yield();
        for (auto& reader : readers) {
            if (!reader) continue;
            for (auto& event : reader->client->TakeEvents()) {
                reader->heard.push_back(std::move(event.bytes));
                --reader->queued;
            }
        }
        if (late > 0) {
            --late;
        } else if (done() || std::chrono::steady_clock::now() > giveUp) {
            late = kLateFrames;
        }
    }
}

// Runs the clock for a while with reads queued, for what must not arrive.
void ListenBriefly(DriverTestBed& bed, Readers& readers)
{
    Listen(bed, readers, [] { return true; });
}

// ---- Output shared between the cables of one class endpoint ----

class MidiClassEndpointOutput : public PluggedFilter<hardware::kClassMidiSmall> {};

TEST_F(MidiClassEndpointOutput, PendingCablesTakeTurnsEventByEventInOnePacket)
{
    MidiPort* cable0 = PortForPin(*filter, kCable0OutPin);
    MidiPort* cable1 = PortForPin(*filter, kCable1OutPin);
    ASSERT_TRUE(cable0 && cable1);
    ASSERT_EQ(cable0->Endpoint(), cable1->Endpoint());
    ASSERT_EQ(cable1->Cable(), 1u);
    MidiClient first(*filter, kCable0OutPin);
    MidiClient second(*filter, kCable1OutPin);
    ASSERT_EQ(first.Status(), STATUS_SUCCESS);
    ASSERT_EQ(second.Status(), STATUS_SUCCESS);

    // The device holds what it is sent, so both packet buffers end up in
    // flight and the next pump has to wait for one.
    hardware::MidiOutput& wire = bed.Hardware().MidiOut(kClassOut);
    wire.SetAnswering(false);
    kmsim::SetTimeoutScale(0.001);
    first.Write({0x90, 0x30, 0x01});
    first.Write({0x90, 0x31, 0x01});
    // Long enough for both writers to have their bytes pending before a
    // buffer comes free.
    kmsim::SetTimeoutScale(60);
    std::thread cable0Writer([&] { first.Write({0x90, 0x40, 0x01, 0x90, 0x41, 0x01, 0x90, 0x42, 0x01}); });
    std::thread cable1Writer([&] { second.Write({0x90, 0x50, 0x02, 0x90, 0x51, 0x02, 0x90, 0x52, 0x02}); });
    const bool bothPending = Eventually([&] { return PendingBytes(*cable0) > 0 && PendingBytes(*cable1) > 0; });
    wire.SetAnswering(true);
    cable0Writer.join();
    cable1Writer.join();
    ASSERT_TRUE(bothPending);
    Drain(bed, first);
    Drain(bed, second);

    const std::vector<Bytes> expected = {
        {0x09, 0x90, 0x30, 0x01},
        {0x09, 0x90, 0x31, 0x01},
        {0x09, 0x90, 0x40, 0x01, 0x19, 0x90, 0x50, 0x02, 0x09, 0x90, 0x41, 0x01,
         0x19, 0x90, 0x51, 0x02, 0x09, 0x90, 0x42, 0x01, 0x19, 0x90, 0x52, 0x02},
    };
    EXPECT_EQ(wire.Transfers(), expected);
    EXPECT_TRUE(wire.Faults().empty());
}

// ---- Raw output sizes ----

struct RawWrite {
    const char* name;
    Bytes event;
    std::vector<Bytes> transfers;
};

class MidiRawOutput : public PluggedFilter<hardware::kAudioMidi, testing::TestWithParam<RawWrite>> {};

// A pump packs at most eight bytes; the pumps that find nothing left to take
// send nothing at all.
TEST_P(MidiRawOutput, AWriteGoesOutInPacketsOfAtMostEightBytes)
{
    MidiClient out(*filter, kRawOutPin);
    ASSERT_EQ(out.Status(), STATUS_SUCCESS);

    out.Write(GetParam().event);
    Drain(bed, out);
    EXPECT_EQ(bed.Hardware().MidiOut(kRawOut).Transfers(), GetParam().transfers);
    EXPECT_EQ(bed.Bus().Transfers(bed.Usb(), kRawOut).submitted, GetParam().transfers.size());

    // Nothing of the write stays behind: the next one is a packet of its own.
    out.Write({0x80, 0x3C, 0x00});
    Drain(bed, out);
    const auto transfers = bed.Hardware().MidiOut(kRawOut).Transfers();
    ASSERT_EQ(transfers.size(), GetParam().transfers.size() + 1);
    EXPECT_EQ(transfers.back(), (Bytes{0x80, 0x3C, 0x00}));
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, MidiRawOutput,
    testing::Values(RawWrite{"FiveBytes", {0x90, 0x3C, 0x64, 0xC1, 0x05}, {{0x90, 0x3C, 0x64, 0xC1, 0x05}}},
                    RawWrite{"EightBytes",
                             {0x90, 0x3C, 0x64, 0x3E, 0x64, 0x40, 0x64, 0xF8},
                             {{0x90, 0x3C, 0x64, 0x3E, 0x64, 0x40, 0x64, 0xF8}}},
                    RawWrite{"TwentyBytes",
                             {0xF0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 0xF7},
                             {{0xF0, 1, 2, 3, 4, 5, 6, 7}, {8, 9, 10, 11, 12, 13, 14, 15}, {16, 17, 18, 0xF7}}}),
    [](const auto& info) { return info.param.name; });

// ---- Output with no buffer to be had ----

// A raw out pin of product 0x10 whose buffer waits give up at once.
class MidiOutputWithoutBuffer : public PluggedFilter<hardware::kAudioMidi> {
protected:
    void SetUp() override
    {
        PluggedFilter::SetUp();
        if (HasFatalFailure()) return;
        client = std::make_unique<MidiClient>(*filter, kRawOutPin);
        ASSERT_EQ(client->Status(), STATUS_SUCCESS);
        kmsim::SetTimeoutScale(0.001);
    }

    std::unique_ptr<MidiClient> client;
};

TEST_F(MidiOutputWithoutBuffer, AWriteToAStoppedEndpointGivesUpAndItsBytesAreNeverSent)
{
    MidiClient& out = *client;

    ASSERT_EQ(kmsim::SetDevicePowerState(bed.Pdo(), PowerDeviceD3), STATUS_SUCCESS);
    out.Write({0x90, 0x3C, 0x64});
    Drain(bed, out);
    EXPECT_EQ(bed.Bus().Transfers(bed.Usb(), kRawOut).submitted, 0u);

    ASSERT_EQ(kmsim::SetDevicePowerState(bed.Pdo(), PowerDeviceD0), STATUS_SUCCESS);
    out.Write({0x80, 0x3C, 0x00});
    Drain(bed, out);
    EXPECT_EQ(bed.Hardware().MidiOut(kRawOut).Transfers(), (std::vector<Bytes>{{0x80, 0x3C, 0x00}}));
}

TEST_F(MidiOutputWithoutBuffer, ADeviceThatStopsTakingPacketsCostsAWriteOnlyWhatDidNotFit)
{
    MidiClient& out = *client;
    hardware::MidiOutput& wire = bed.Hardware().MidiOut(kRawOut);
    wire.SetAnswering(false);

    // Two packets fill both buffers; the last byte finds none free and goes.
    const Bytes notes = {0x90, 0x3C, 0x64, 0x3E, 0x64, 0x40, 0x64, 0x41, 0x64, 0x43, 0x64, 0x45, 0x64, 0x47, 0x64, 0xC0, 0x05};
    out.Write(notes);
    Drain(bed, out);
    EXPECT_EQ(bed.Bus().Transfers(bed.Usb(), kRawOut).pending, 2u);

    wire.SetAnswering(true);
    bed.Bus().Flush();
    EXPECT_EQ(wire.Transfers(), (std::vector<Bytes>{Bytes(notes.begin(), notes.begin() + 8),
                                                    Bytes(notes.begin() + 8, notes.begin() + 16)}));
    out.Write({0x80, 0x3C, 0x00});
    Drain(bed, out);
    const auto transfers = wire.Transfers();
    ASSERT_EQ(transfers.size(), 3u);
    EXPECT_EQ(transfers.back(), (Bytes{0x80, 0x3C, 0x00}));
}

TEST_F(MidiOutputWithoutBuffer, PowerDownEndsPacketsTheDeviceHoldsAndTheyAreNotSentAfterwards)
{
    MidiClient& out = *client;
    hardware::MidiOutput& wire = bed.Hardware().MidiOut(kRawOut);
    wire.SetAnswering(false);

    out.Write({0x90, 0x3C, 0x64});
    out.Write({0x90, 0x3E, 0x64});
    out.Write({0x90, 0x40, 0x64});
    Drain(bed, out);
    EXPECT_EQ(bed.Bus().Transfers(bed.Usb(), kRawOut).pending, 2u);

    // The endpoint stops by aborting its pipe and waiting for its transfers.
    ASSERT_EQ(kmsim::SetDevicePowerState(bed.Pdo(), PowerDeviceD3), STATUS_SUCCESS);
    EXPECT_EQ(bed.Bus().PendingCount(bed.Usb()), 0u);
    wire.SetAnswering(true);
    ASSERT_EQ(kmsim::SetDevicePowerState(bed.Pdo(), PowerDeviceD0), STATUS_SUCCESS);
    out.Write({0x80, 0x3C, 0x00});
    Drain(bed, out);
    EXPECT_EQ(wire.Transfers(), (std::vector<Bytes>{{0x80, 0x3C, 0x00}}));
}

// ---- Failed reads ----

// Product 0x10 with a reader of its raw in pin.
template <typename Base = testing::Test>
class RawMidiReader : public PluggedFilter<hardware::kAudioMidi, Base> {
protected:
    void SetUp() override
    {
        PluggedFilter<hardware::kAudioMidi, Base>::SetUp();
        if (this->HasFatalFailure()) return;
        readers.push_back(OpenReader(*this->filter, kRawInPin));
    }

    Readers readers;
};

class MidiInputFailure : public RawMidiReader<> {};

TEST_F(MidiInputFailure, OneFailedReadLeavesTheOtherReading)
{
    hardware::MidiInput& device = bed.Hardware().MidiIn(kRawIn);

    device.FailReads(USBD_STATUS_STALL_PID, 1);
    bed.Bus().StepFrames(3);
    bed.Bus().Flush();
    EXPECT_EQ(device.FailedReads(), 1u);
    EXPECT_EQ(bed.Bus().Transfers(bed.Usb(), kRawIn).pending, 1u);

    const std::vector<Bytes> messages = {{0x90, 0x3C, 0x64}, {0xB0, 0x07, 0x7F}, {0x80, 0x3C, 0x00}};
    for (const Bytes& message : messages) device.QueuePacket(message);
    Listen(bed, readers, [&] { return readers[0]->heard.size() >= messages.size(); });
    EXPECT_EQ(readers[0]->heard, messages);
    EXPECT_EQ(device.FailedReads(), 1u);
    EXPECT_EQ(bed.Bus().Transfers(bed.Usb(), kRawIn).pending, 1u);
}

TEST_F(MidiInputFailure, WithBothReadsFailedNothingIsReadUntilPowerUp)
{
    hardware::MidiInput& device = bed.Hardware().MidiIn(kRawIn);

    device.FailReads(USBD_STATUS_STALL_PID);
    bed.Bus().StepFrames(10);
    bed.Bus().Flush();
    device.StopFailing();
    // Not read again: the two failures are all the device saw.
    EXPECT_EQ(device.FailedReads(), 2u);
    EXPECT_EQ(bed.Bus().Transfers(bed.Usb(), kRawIn).pending, 0u);

    device.QueuePacket({0x90, 0x3C, 0x64});
    ListenBriefly(bed, readers);
    EXPECT_TRUE(readers[0]->heard.empty());
    EXPECT_EQ(device.Queued(), 1u);

    ASSERT_EQ(kmsim::SetDevicePowerState(bed.Pdo(), PowerDeviceD3), STATUS_SUCCESS);
    ASSERT_EQ(kmsim::SetDevicePowerState(bed.Pdo(), PowerDeviceD0), STATUS_SUCCESS);
    Listen(bed, readers, [&] { return !readers[0]->heard.empty(); });
    EXPECT_EQ(readers[0]->heard, (std::vector<Bytes>{{0x90, 0x3C, 0x64}}));
    EXPECT_EQ(bed.Bus().Transfers(bed.Usb(), kRawIn).pending, 2u);
}

// A read that fails on its way back down, at once or after pending, is
// counted out exactly once: the endpoint still stops and goes away.
class MidiInputResubmission : public RawMidiReader<testing::TestWithParam<usbsim::RequestFault::Action>> {};

TEST_P(MidiInputResubmission, AFailedRepeatIsDroppedAndTheEndpointStillStops)
{
    hardware::MidiInput& device = bed.Hardware().MidiIn(kRawIn);

    usbsim::RequestFault fault;
    fault.action = GetParam();
    fault.function = URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER;
    fault.status = STATUS_UNSUCCESSFUL;
    fault.usbdStatus = USBD_STATUS_STALL_PID;
    bed.Usb().InjectFault(fault);

    device.QueuePacket({0x90, 0x3C, 0x64});
    Listen(bed, readers, [&] { return !readers[0]->heard.empty(); });
    EXPECT_EQ(bed.Bus().Transfers(bed.Usb(), kRawIn).pending, 1u);
    device.QueuePacket({0x80, 0x3C, 0x00});
    Listen(bed, readers, [&] { return readers[0]->heard.size() >= 2; });
    EXPECT_EQ(readers[0]->heard, (std::vector<Bytes>{{0x90, 0x3C, 0x64}, {0x80, 0x3C, 0x00}}));

    ASSERT_EQ(kmsim::SetDevicePowerState(bed.Pdo(), PowerDeviceD3), STATUS_SUCCESS);
    EXPECT_EQ(bed.Bus().PendingCount(bed.Usb()), 0u);
    ASSERT_EQ(kmsim::SetDevicePowerState(bed.Pdo(), PowerDeviceD0), STATUS_SUCCESS);
    EXPECT_EQ(bed.Bus().Transfers(bed.Usb(), kRawIn).pending, 2u);
}

INSTANTIATE_TEST_SUITE_P(Faults, MidiInputResubmission,
                         testing::Values(usbsim::RequestFault::Action::Fail,
                                         usbsim::RequestFault::Action::FailAfterPending),
                         [](const auto& info) {
                             return info.param == usbsim::RequestFault::Action::Fail ? "AtOnce" : "AfterPending";
                         });

// ---- Listeners of a port ----

class MidiPortListeners : public PluggedFilter<hardware::kAudioMidi> {};

TEST_F(MidiPortListeners, ASeventeenthPinHearsNothingEvenAfterASlotFrees)
{
    Readers readers;
    for (ULONG i = 0; i < kMaxMidiListeners + 1; ++i) readers.push_back(OpenReader(*filter, kRawInPin));
    hardware::MidiInput& device = bed.Hardware().MidiIn(kRawIn);
    auto firstHeard = [&](size_t count) {
        return [&readers, count] {
            for (ULONG i = 0; i < kMaxMidiListeners; ++i)
                if (readers[i] && readers[i]->heard.size() < count) return false;
            return true;
        };
    };

    device.QueuePacket({0x90, 0x3C, 0x64});
    Listen(bed, readers, firstHeard(1));
    device.QueuePacket({0x80, 0x3C, 0x00});
    Listen(bed, readers, firstHeard(2));
    for (ULONG i = 0; i < kMaxMidiListeners; ++i) {
        EXPECT_EQ(readers[i]->heard, (std::vector<Bytes>{{0x90, 0x3C, 0x64}, {0x80, 0x3C, 0x00}})) << "pin " << i;
    }
    EXPECT_TRUE(readers[kMaxMidiListeners]->heard.empty());

    // A closed pin's slot goes to the next pin created, not to one refused.
    readers[0].reset();
    readers.push_back(OpenReader(*filter, kRawInPin));
    device.QueuePacket({0xB0, 0x07, 0x7F});
    Listen(bed, readers, [&] { return firstHeard(3)() && !readers.back()->heard.empty(); });
    EXPECT_EQ(readers.back()->heard, (std::vector<Bytes>{{0xB0, 0x07, 0x7F}}));
    EXPECT_TRUE(readers[kMaxMidiListeners]->heard.empty());
}

TEST_F(MidiPortListeners, APinRegisteredTwiceIsStoredOnce)
{
    MidiPort* port = PortForPin(*filter, kRawInPin);
    ASSERT_NE(port, nullptr);

    Readers readers;
    for (ULONG i = 0; i + 1 < kMaxMidiListeners; ++i) readers.push_back(OpenReader(*filter, kRawInPin));
    UsbMidiPin* twice = PinContext(*readers[0]->client);
    ASSERT_NE(twice, nullptr);
    port->AddListener(twice);
    // Had the second registration taken a slot, this pin would find none.
    readers.push_back(OpenReader(*filter, kRawInPin));
    ASSERT_EQ(readers.size(), size_t(kMaxMidiListeners));

    hardware::MidiInput& device = bed.Hardware().MidiIn(kRawIn);
    const std::vector<Bytes> messages = {{0x90, 0x3C, 0x64}, {0x80, 0x3C, 0x00}};
    for (const Bytes& message : messages) device.QueuePacket(message);
    Listen(bed, readers, [&] {
        for (auto& reader : readers)
            if (reader->heard.size() < messages.size()) return false;
        return true;
    });
    for (size_t i = 0; i < readers.size(); ++i) EXPECT_EQ(readers[i]->heard, messages) << "pin " << i;

    // Closing the pin clears it from the port: later messages reach the
    // others and nothing touches the closed pin.
    readers[0].reset();
    device.QueuePacket({0xB0, 0x07, 0x7F});
    Listen(bed, readers, [&] { return readers.back()->heard.size() > messages.size(); });
    EXPECT_EQ(readers.back()->heard.back(), (Bytes{0xB0, 0x07, 0x7F}));
}

// ---- Running-status packets merged in flight ----

class MidiRunningStatusMerge : public PluggedFilter<hardware::kRunningStatusMidi> {};

TEST_F(MidiRunningStatusMerge, MessagesJoinThePacketTheDeviceHasNotTakenUntilItIsFull)
{
    MidiClient out(*filter, kRunningStatusOutPin);
    ASSERT_EQ(out.Status(), STATUS_SUCCESS);
    hardware::MidiOutput& wire = bed.Hardware().MidiOut(kRunningStatusOut);
    wire.SetAnswering(false);

    // Each write withdraws the packet still held and sends it again with the
    // new message appended, until the eight-byte packet is full.
    for (const Bytes& message :
         std::vector<Bytes>{{0x90, 0x3C, 0x64}, {0x90, 0x3E, 0x64}, {0xB0, 0x07, 0x10}, {0xB0, 0x07, 0x11}})
        out.Write(message);
    Drain(bed, out);
    EXPECT_EQ(bed.Bus().Transfers(bed.Usb(), kRunningStatusOut).pending, 2u);

    wire.SetAnswering(true);
    bed.Bus().Flush();
    EXPECT_EQ(wire.Transfers(),
              (std::vector<Bytes>{{0x90, 0x3C, 0x64, 0x3E, 0x64, 0xB0, 0x07, 0x10}, {0x07, 0x11}}));
    EXPECT_EQ(wire.Messages(),
              (std::vector<Bytes>{{0x90, 0x3C, 0x64}, {0x90, 0x3E, 0x64}, {0xB0, 0x07, 0x10}, {0xB0, 0x07, 0x11}}));
    EXPECT_TRUE(wire.Faults().empty());
}

// The frame pads a two-byte event to four: the pump must not take the
// padding for the missing data byte.
TEST_F(MidiRunningStatusMerge, AnIncompleteMessageIsDroppedAndLeavesTheRunningStatusAlone)
{
    MidiClient out(*filter, kRunningStatusOutPin);
    ASSERT_EQ(out.Status(), STATUS_SUCCESS);

    out.Write({0x90, 0x3C});
    out.Write({0x90, 0x3E, 0x64});
    Drain(bed, out);
    EXPECT_EQ(bed.Hardware().MidiOut(kRunningStatusOut).Transfers(), (std::vector<Bytes>{{0x90, 0x3E, 0x64}}));
}

}  // namespace
