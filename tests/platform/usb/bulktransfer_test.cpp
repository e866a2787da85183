// Bulk and interrupt transfers on the bus: reads the device answers now or
// later, short packets, writes the device takes or leaves pending, and what
// ends a transfer the device never answers.
#include "transferfixture.h"

#include "km/verifier.h"

namespace {

using namespace usbtest;

class BulkTest : public TransferTest {};

TEST_F(BulkTest, ReadTheDeviceCanAnswerAtOnceStillCompletesFromTheWorker)
{
    device->PushIn(kBulkIn, {1, 2, 3});
    BulkRequest read(Pipe(kBulkInPipe), true, 64);
    Submission s(busDevice.Pdo(), &read.urb);
    EXPECT_EQ(s.Returned(), STATUS_PENDING);
    EXPECT_EQ(s.Wait(), STATUS_SUCCESS);
    EXPECT_EQ(read.urb.UrbHeader.Status, USBD_STATUS_SUCCESS);
    EXPECT_EQ(read.Received(), (std::vector<uint8_t>{1, 2, 3}));
}

TEST_F(BulkTest, ReadStaysPendingUntilTheDeviceHasAPacketAndWakesTheBus)
{
    BulkRequest read(Pipe(kBulkInPipe), true, 64);
    Submission s(busDevice.Pdo(), &read.urb);
    bus.Flush();
    EXPECT_EQ(Counts(kBulkIn).pending, 1u);
    EXPECT_EQ(read.urb.UrbHeader.Status, USBD_STATUS_PENDING);
    device->PushIn(kBulkIn, {9, 8});
    EXPECT_EQ(s.Wait(), STATUS_SUCCESS);  // no frame step needed
    EXPECT_EQ(read.Received(), (std::vector<uint8_t>{9, 8}));
}

TEST_F(BulkTest, DataAWakeAnnouncesIsReadBeforeTheNextFrameRuns)
{
    bus.SetCurrentFrame(10);
    BulkRequest read(Pipe(kBulkInPipe), true, 64);
    Submission s(busDevice.Pdo(), &read.urb);
    bus.Flush();
    device->PushIn(kBulkIn, {5});
    bus.StepFrames(1);
    ASSERT_EQ(s.Wait(), STATUS_SUCCESS);
    // The last ask, the one that got the packet, came in frame 10.
    EXPECT_EQ(device->Contexts().back().frame, 10u);
}

TEST_F(BulkTest, PendingReadIsAskedAgainOnEveryFrameStep)
{
    BulkRequest read(Pipe(kBulkInPipe), true, 64);
    Submission s(busDevice.Pdo(), &read.urb);
    bus.Flush();
    const ULONG before = device->BulkInAsked(kBulkIn);
    bus.StepFrames(3);
    EXPECT_EQ(device->BulkInAsked(kBulkIn), before + 3);
}

TEST_F(BulkTest, ReadsOnOnePipeAreAnsweredOldestFirst)
{
    BulkRequest first(Pipe(kBulkInPipe), true, 64);
    BulkRequest second(Pipe(kBulkInPipe), true, 64);
    Submission a(busDevice.Pdo(), &first.urb);
    Submission b(busDevice.Pdo(), &second.urb);
    device->PushIn(kBulkIn, {1});
    device->PushIn(kBulkIn, {2});
    ASSERT_EQ(a.Wait(), STATUS_SUCCESS);
    ASSERT_EQ(b.Wait(), STATUS_SUCCESS);
    EXPECT_EQ(first.Received(), std::vector<uint8_t>{1});
    EXPECT_EQ(second.Received(), std::vector<uint8_t>{2});
}

struct ReadCase {
    const char* name;
    std::vector<std::vector<uint8_t>> packets;  // what the device has, in order
    ULONG length;                               // of the read
    bool shortOk;
    NTSTATUS status;
    USBD_STATUS usbd;
    size_t received;
};

class BulkReadTest : public TransferTest, public testing::WithParamInterface<ReadCase> {};

TEST_P(BulkReadTest, GathersPacketsUntilAShortOneOrAFullBuffer)
{
    const ReadCase& c = GetParam();
    for (const auto& packet : c.packets) device->PushIn(kBulkIn, packet);
    BulkRequest read(Pipe(kBulkInPipe), true, c.length, c.shortOk);
    Submission s(busDevice.Pdo(), &read.urb);
    EXPECT_EQ(s.Wait(), c.status);
    EXPECT_EQ(read.urb.UrbHeader.Status, c.usbd);
    ASSERT_EQ(read.urb.UrbBulkOrInterruptTransfer.TransferBufferLength, c.received);
    // Every byte that arrived is in the buffer, in order.
    std::vector<uint8_t> expected;
    for (const auto& packet : c.packets) expected.insert(expected.end(), packet.begin(), packet.end());
    expected.resize(c.received);
    EXPECT_EQ(read.Received(), expected);
}

std::vector<uint8_t> Bytes(size_t n, uint8_t first)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = uint8_t(first + i);
    return v;
}

INSTANTIATE_TEST_SUITE_P(
    Reads, BulkReadTest,
    testing::Values(
        ReadCase{"ShortPacketAllowed", {Bytes(3, 1)}, 64, true, STATUS_SUCCESS, USBD_STATUS_SUCCESS, 3},
        ReadCase{"ShortPacketNotAllowedKeepsTheBytes", {Bytes(3, 1)}, 64, false, STATUS_UNSUCCESSFUL,
                 USBD_STATUS_ERROR_SHORT_TRANSFER, 3},
        ReadCase{"ExactlyFullBuffer", {Bytes(64, 1)}, 64, false, STATUS_SUCCESS, USBD_STATUS_SUCCESS, 64},
        ReadCase{"TwoFullPackets", {Bytes(64, 1), Bytes(64, 65)}, 128, false, STATUS_SUCCESS,
                 USBD_STATUS_SUCCESS, 128},
        ReadCase{"FullThenShort", {Bytes(64, 1), Bytes(10, 65)}, 128, true, STATUS_SUCCESS,
                 USBD_STATUS_SUCCESS, 74},
        ReadCase{"ZeroLengthPacketEndsTheRead", {Bytes(64, 1), {}}, 128, true, STATUS_SUCCESS,
                 USBD_STATUS_SUCCESS, 64}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(BulkTest, ReadWaitsAfterAFullPacketForTheRest)
{
    BulkRequest read(Pipe(kBulkInPipe), true, 128);
    Submission s(busDevice.Pdo(), &read.urb);
    device->PushIn(kBulkIn, Bytes(64, 0));
    bus.StepFrames(2);
    EXPECT_EQ(read.urb.UrbHeader.Status, USBD_STATUS_PENDING);
    device->PushIn(kBulkIn, Bytes(5, 64));
    ASSERT_EQ(s.Wait(), STATUS_SUCCESS);
    EXPECT_EQ(read.Received(), Bytes(69, 0));
}

TEST_F(BulkTest, DeviceFailureEndsTheReadWithItsStatus)
{
    BulkRequest read(Pipe(kBulkInPipe), true, 64);
    Submission s(busDevice.Pdo(), &read.urb);
    device->FailNextIn(kBulkIn, USBD_STATUS_STALL_PID);
    EXPECT_EQ(s.Wait(), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(read.urb.UrbHeader.Status, USBD_STATUS_STALL_PID);
    EXPECT_EQ(read.urb.UrbBulkOrInterruptTransfer.TransferBufferLength, 0u);
}

TEST_F(BulkTest, InterruptReadGetsPacketsOfTheEndpointsSize)
{
    device->PushIn(kInterruptIn, Bytes(12, 0));
    BulkRequest read(Pipe(kInterruptInPipe), true, 64);
    Submission s(busDevice.Pdo(), &read.urb);
    ASSERT_EQ(s.Wait(), STATUS_SUCCESS);
    // 8 then 4: the short second packet ends the read.
    EXPECT_EQ(read.Received(), Bytes(12, 0));
}

TEST_F(BulkTest, WriteTheDeviceTakesCompletesWithAllItsBytes)
{
    BulkRequest write(Pipe(kBulkOutPipe), Bytes(100, 7));
    Submission s(busDevice.Pdo(), &write.urb);
    EXPECT_EQ(s.Returned(), STATUS_PENDING);
    ASSERT_EQ(s.Wait(), STATUS_SUCCESS);
    EXPECT_EQ(write.urb.UrbBulkOrInterruptTransfer.TransferBufferLength, 100u);
    EXPECT_EQ(device->BulkOutSeen(), std::vector<std::vector<uint8_t>>{Bytes(100, 7)});
}

TEST_F(BulkTest, WriteTheDeviceLeavesCompletesOnceItTakesIt)
{
    device->AcceptBulkOut(false);
    BulkRequest write(Pipe(kBulkOutPipe), Bytes(4, 0));
    Submission s(busDevice.Pdo(), &write.urb);
    bus.StepFrames(5);
    EXPECT_EQ(write.urb.UrbHeader.Status, USBD_STATUS_PENDING);
    device->AcceptBulkOut(true);
    EXPECT_EQ(s.Wait(), STATUS_SUCCESS);
}

enum class Ending { Abort, Reset, Cancel, Unplug };

std::string EndingName(Ending ending)
{
    switch (ending) {
    case Ending::Abort: return "Abort";
    case Ending::Reset: return "Reset";
    case Ending::Cancel: return "Cancel";
    case Ending::Unplug: return "Unplug";
    }
    return "Unknown";
}

class UnansweredTransferTest : public TransferTest, public testing::WithParamInterface<Ending> {};

TEST_P(UnansweredTransferTest, StaysPendingUntilEnded)
{
    device->AcceptBulkOut(false);
    BulkRequest write(Pipe(kBulkOutPipe), Bytes(4, 0));
    BulkRequest read(Pipe(kBulkInPipe), true, 64);
    Submission w(busDevice.Pdo(), &write.urb);
    Submission r(busDevice.Pdo(), &read.urb);
    bus.StepFrames(50);
    EXPECT_EQ(Counts(kBulkOut).pending, 1u);
    EXPECT_EQ(Counts(kBulkIn).pending, 1u);

    NTSTATUS expected = STATUS_CANCELLED;
    USBD_STATUS usbd = USBD_STATUS_CANCELED;
    switch (GetParam()) {
    case Ending::Abort:
    case Ending::Reset:
        for (USBD_PIPE_HANDLE pipe : {Pipe(kBulkOutPipe), Pipe(kBulkInPipe)}) {
            URB request;
            BuildPipeRequest(&request,
                             GetParam() == Ending::Abort ? URB_FUNCTION_ABORT_PIPE
                                                         : URB_FUNCTION_SYNC_RESET_PIPE_AND_CLEAR_STALL,
                             pipe);
            EXPECT_EQ(Submit(busDevice.Pdo(), &request), STATUS_SUCCESS);
        }
        break;
    case Ending::Cancel:
        w.Cancel();
        r.Cancel();
        break;
    case Ending::Unplug:
        bus.Unplug(busDevice);
        expected = STATUS_DEVICE_NOT_CONNECTED;
        usbd = USBD_STATUS_DEVICE_GONE;
        break;
    }
    EXPECT_EQ(w.Wait(), expected);
    EXPECT_EQ(r.Wait(), expected);
    EXPECT_EQ(write.urb.UrbHeader.Status, usbd);
    EXPECT_EQ(read.urb.UrbHeader.Status, usbd);
    EXPECT_EQ(Counts(kBulkOut).pending, 0u);
    EXPECT_EQ(Counts(kBulkOut).completed, 1u);
    EXPECT_TRUE(device->BulkOutSeen().empty());
}

INSTANTIATE_TEST_SUITE_P(Endings, UnansweredTransferTest,
                         testing::Values(Ending::Abort, Ending::Reset, Ending::Cancel, Ending::Unplug),
                         [](const auto& info) { return EndingName(info.param); });

enum class Closing { Reselect, Deconfigure };

class ClosedPipeTest : public TransferTest, public testing::WithParamInterface<Closing> {};

TEST_P(ClosedPipeTest, TransfersPendingOnPipesANewSelectionClosedEndCancelled)
{
    BulkRequest read(Pipe(kBulkInPipe), true, 64);
    IsoRequest iso(Pipe(kIsoOutPipe), false, 50, 8, 0);
    Submission r(busDevice.Pdo(), &read.urb);
    Submission i(busDevice.Pdo(), iso.Urb());
    bus.StepFrames(2);
    if (GetParam() == Closing::Reselect) {
        UrbBuffer select = SelectInterfaceUrb(config->Handle(), 0, 0, 5);
        ASSERT_EQ(Submit(busDevice.Pdo(), select.Get()), STATUS_SUCCESS);
    } else {
        URB deconfigure;
        UsbBuildSelectConfigurationRequest(&deconfigure, sizeof(_URB_SELECT_CONFIGURATION), nullptr);
        ASSERT_EQ(Submit(busDevice.Pdo(), &deconfigure), STATUS_SUCCESS);
    }
    EXPECT_EQ(r.Wait(), STATUS_CANCELLED);
    EXPECT_EQ(i.Wait(), STATUS_CANCELLED);
    EXPECT_EQ(bus.PendingCount(busDevice), 0u);
}

INSTANTIATE_TEST_SUITE_P(Selections, ClosedPipeTest, testing::Values(Closing::Reselect, Closing::Deconfigure),
                         [](const auto& info) {
                             return std::string(info.param == Closing::Reselect ? "Reselect" : "Deconfigure");
                         });

TEST_F(BulkTest, TransferOnAnIsochronousPipeIsRefusedAtOnce)
{
    BulkRequest read(Pipe(kIsoInPipe), true, 64);
    Submission s(busDevice.Pdo(), &read.urb);
    EXPECT_EQ(s.Returned(), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(read.urb.UrbHeader.Status, USBD_STATUS_INVALID_PARAMETER);
}

TEST_F(BulkTest, CountsWhatWasSubmittedCompletedAndIsPendingPerEndpoint)
{
    BulkRequest a(Pipe(kBulkInPipe), true, 64);
    BulkRequest b(Pipe(kBulkInPipe), true, 64);
    Submission first(busDevice.Pdo(), &a.urb);
    Submission second(busDevice.Pdo(), &b.urb);
    device->PushIn(kBulkIn, {1});
    ASSERT_EQ(first.Wait(), STATUS_SUCCESS);
    bus.Flush();
    const usbsim::TransferCounts counts = Counts(kBulkIn);
    EXPECT_EQ(counts.submitted, 2u);
    EXPECT_EQ(counts.completed, 1u);
    EXPECT_EQ(counts.pending, 1u);
    EXPECT_EQ(Counts(kBulkOut).submitted, 0u);
}

TEST_F(BulkTest, AnInPipeFinishesAtMost19ReadsPerFrame)
{
    // So a device that always has data cannot keep one frame going forever.
    for (int i = 0; i < 50; ++i) device->PushIn(kBulkIn, {uint8_t(i)});
    std::vector<std::unique_ptr<BulkRequest>> reads;
    std::vector<std::unique_ptr<Submission>> submissions;
    for (int i = 0; i < 50; ++i) {
        reads.push_back(std::make_unique<BulkRequest>(Pipe(kBulkInPipe), true, 64));
        submissions.push_back(std::make_unique<Submission>(busDevice.Pdo(), &reads.back()->urb));
    }
    bus.Flush();
    EXPECT_EQ(Counts(kBulkIn).completed, 19u);
    bus.StepFrames(1);
    EXPECT_EQ(Counts(kBulkIn).completed, 38u);
    bus.StepFrames(1);
    for (int i = 0; i < 50; ++i) {
        ASSERT_EQ(submissions[i]->Wait(), STATUS_SUCCESS);
        EXPECT_EQ(reads[i]->Received(), std::vector<uint8_t>{uint8_t(i)});
    }
}

TEST_F(BulkTest, WritesAreNotHeldBackByTheClock)
{
    std::vector<std::unique_ptr<BulkRequest>> writes;
    std::vector<std::unique_ptr<Submission>> submissions;
    for (int i = 0; i < 50; ++i) {
        writes.push_back(std::make_unique<BulkRequest>(Pipe(kBulkOutPipe), Bytes(1, uint8_t(i))));
        submissions.push_back(std::make_unique<Submission>(busDevice.Pdo(), &writes.back()->urb));
    }
    for (auto& s : submissions) ASSERT_EQ(s->Wait(), STATUS_SUCCESS);
    EXPECT_EQ(device->BulkOutSeen().size(), 50u);
}

}  // namespace
