// Isochronous transfers on the bus: one packet per frame from the start
// frame, completion at the end of the last frame, late packets, the frame
// window, and the bytes each packet carries.
#include "transferfixture.h"

namespace {

using namespace usbtest;

class IsochronousTest : public TransferTest {};

TEST_F(IsochronousTest, InPacketsRunOneFramePerPacketFromTheStartFrame)
{
    bus.SetCurrentFrame(100);
    device->SetIsoInLength(10);
    IsoRequest request(Pipe(kIsoInPipe), true, 4, kIsoPacketSize, 105);
    Submission s(busDevice.Pdo(), request.Urb());
    ASSERT_EQ(s.Returned(), STATUS_PENDING);

    bus.StepFrames(8);
    EXPECT_EQ(device->IsoInFrames(), (std::vector<ULONG>{105, 106, 107, 108}));
    EXPECT_EQ(s.Wait(), STATUS_SUCCESS);
    EXPECT_EQ(request.Iso().Hdr.Status, USBD_STATUS_SUCCESS);
    EXPECT_EQ(request.Iso().StartFrame, 105u);
    EXPECT_EQ(request.Iso().ErrorCount, 0u);
    for (ULONG k = 0; k < 4; ++k) {
        EXPECT_EQ(request.Packet(k).Status, USBD_STATUS_SUCCESS);
        EXPECT_EQ(request.Packet(k).Length, 10u);
        // The device filled the packet's own room with its frame number.
        EXPECT_EQ(request.Data()[k * kIsoPacketSize], uint8_t(105 + k));
        EXPECT_EQ(request.Data()[k * kIsoPacketSize + 9], uint8_t(105 + k));
        EXPECT_EQ(request.Data()[k * kIsoPacketSize + 10], 0);
    }
}

TEST_F(IsochronousTest, CompletesAtTheEndOfItsLastFrameAndNotBefore)
{
    bus.SetCurrentFrame(100);
    IsoRequest request(Pipe(kIsoInPipe), true, 4, kIsoPacketSize, 105);
    Submission s(busDevice.Pdo(), request.Urb());
    bus.StepFrames(7);  // through frame 107
    EXPECT_EQ(request.Iso().Hdr.Status, USBD_STATUS_PENDING);
    EXPECT_EQ(Counts(kIsoIn).pending, 1u);
    bus.StepFrames(1);  // frame 108, the last one
    EXPECT_EQ(Counts(kIsoIn).pending, 0u);
    EXPECT_EQ(Counts(kIsoIn).completed, 1u);
    EXPECT_EQ(s.Wait(), STATUS_SUCCESS);
}

TEST_F(IsochronousTest, InPacketIsCutToTheSmallerOfItsRoomAndTheEndpointsPacketSize)
{
    device->SetIsoInLength(1000);
    IsoRequest request(Pipe(kIsoInPipe), true, 2, 400, 0);
    // The first packet gets only 50 bytes of room before the second.
    request.Packet(1).Offset = 50;
    Submission s(busDevice.Pdo(), request.Urb());
    bus.StepFrames(2);
    ASSERT_EQ(s.Wait(), STATUS_SUCCESS);
    EXPECT_EQ(request.Packet(0).Length, 50u);
    EXPECT_EQ(request.Packet(1).Length, ULONG(kIsoPacketSize));
}

TEST_F(IsochronousTest, OutPacketsHandTheirOffsetAndLengthBytesToTheDevice)
{
    bus.SetCurrentFrame(20);
    IsoRequest request(Pipe(kIsoOutPipe), false, 3, 0, 22);
    request.Data() = std::vector<uint8_t>(300);
    for (size_t i = 0; i < request.Data().size(); ++i) request.Data()[i] = uint8_t(i);
    request.Iso().TransferBuffer = request.Data().data();
    request.Iso().TransferBufferLength = 300;
    const ULONG offsets[] = {0, 10, 100};
    const ULONG lengths[] = {10, 0, 192};
    for (ULONG k = 0; k < 3; ++k) {
        request.Packet(k).Offset = offsets[k];
        request.Packet(k).Length = lengths[k];
    }
    Submission s(busDevice.Pdo(), request.Urb());
    bus.StepFrames(4);
    ASSERT_EQ(s.Wait(), STATUS_SUCCESS);

    const std::vector<IsoPacketSeen> seen = device->IsoOutSeen();
    ASSERT_EQ(seen.size(), 3u);
    for (ULONG k = 0; k < 3; ++k) {
        EXPECT_EQ(seen[k].endpoint, kIsoOut);
        EXPECT_EQ(seen[k].frame, 22 + k);
        const std::vector<uint8_t> expected(request.Data().begin() + offsets[k],
                                            request.Data().begin() + offsets[k] + lengths[k]);
        EXPECT_EQ(seen[k].bytes, expected) << "packet " << k;
        EXPECT_EQ(request.Packet(k).Status, USBD_STATUS_SUCCESS);
    }
}

TEST_F(IsochronousTest, AsapStartsAtTheNextFrameThenRightAfterThePipesLastPacket)
{
    bus.SetCurrentFrame(50);
    IsoRequest first(Pipe(kIsoInPipe), true, 3, kIsoPacketSize, 0);
    IsoRequest second(Pipe(kIsoInPipe), true, 2, kIsoPacketSize, 0);
    IsoRequest otherPipe(Pipe(kIsoOutPipe), false, 2, 8, 0);
    Submission a(busDevice.Pdo(), first.Urb());
    Submission b(busDevice.Pdo(), second.Urb());
    Submission c(busDevice.Pdo(), otherPipe.Urb());
    EXPECT_EQ(first.Iso().StartFrame, 51u);
    EXPECT_EQ(second.Iso().StartFrame, 54u);
    EXPECT_EQ(otherPipe.Iso().StartFrame, 51u);
    bus.StepFrames(5);
    EXPECT_EQ(a.Wait(), STATUS_SUCCESS);
    EXPECT_EQ(b.Wait(), STATUS_SUCCESS);
    EXPECT_EQ(c.Wait(), STATUS_SUCCESS);
    EXPECT_EQ(device->IsoInFrames(), (std::vector<ULONG>{51, 52, 53, 54, 55}));
}

TEST_F(IsochronousTest, AsapAfterThePipeWentIdleStartsAtTheNextFrame)
{
    IsoRequest first(Pipe(kIsoInPipe), true, 2, kIsoPacketSize, 0);
    {
        Submission a(busDevice.Pdo(), first.Urb());
        bus.StepFrames(10);
        ASSERT_EQ(a.Wait(), STATUS_SUCCESS);
    }
    IsoRequest later(Pipe(kIsoInPipe), true, 2, kIsoPacketSize, 0);
    Submission b(busDevice.Pdo(), later.Urb());
    EXPECT_EQ(later.Iso().StartFrame, bus.CurrentFrame() + 1);
}

TEST_F(IsochronousTest, PacketsWhoseFrameHasPassedAreNotSentAndTheRestRun)
{
    bus.SetCurrentFrame(200);
    device->SetIsoInLength(4);
    IsoRequest request(Pipe(kIsoInPipe), true, 5, kIsoPacketSize, 198);
    Submission s(busDevice.Pdo(), request.Urb());
    ASSERT_EQ(s.Returned(), STATUS_PENDING);
    bus.StepFrames(2);
    ASSERT_EQ(s.Wait(), STATUS_SUCCESS);
    EXPECT_EQ(request.Iso().Hdr.Status, USBD_STATUS_SUCCESS);
    EXPECT_EQ(request.Iso().ErrorCount, 3u);
    for (ULONG k = 0; k < 3; ++k) {
        EXPECT_EQ(request.Packet(k).Status, USBD_STATUS_ISO_NOT_ACCESSED_LATE);
        EXPECT_EQ(request.Packet(k).Length, 0u);
    }
    for (ULONG k = 3; k < 5; ++k) EXPECT_EQ(request.Packet(k).Length, 4u);
    EXPECT_EQ(device->IsoInFrames(), (std::vector<ULONG>{201, 202}));
}

TEST_F(IsochronousTest, TransferWhollyInThePastFailsFromTheWorkerWithoutTouchingTheDevice)
{
    bus.SetCurrentFrame(200);
    IsoRequest request(Pipe(kIsoInPipe), true, 4, kIsoPacketSize, 150);
    Submission s(busDevice.Pdo(), request.Urb());
    EXPECT_EQ(s.Returned(), STATUS_PENDING);
    EXPECT_EQ(s.Wait(), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(request.Iso().Hdr.Status, USBD_STATUS_ISOCH_REQUEST_FAILED);
    EXPECT_EQ(request.Iso().ErrorCount, 4u);
    EXPECT_TRUE(device->IsoInFrames().empty());
}

struct StartFrameCase {
    const char* name;
    LONG distance;  // from the current frame
    bool accepted;
};

class StartFrameWindowTest : public TransferTest,
                             public testing::WithParamInterface<StartFrameCase> {};

TEST_P(StartFrameWindowTest, StartFrameMoreThan1024FramesAwayFailsTheWholeTransferAtOnce)
{
    bus.SetCurrentFrame(5000);
    IsoRequest request(Pipe(kIsoOutPipe), false, 2, 8, ULONG(5000 + GetParam().distance));
    Submission s(busDevice.Pdo(), request.Urb());
    if (GetParam().accepted) {
        EXPECT_EQ(s.Returned(), STATUS_PENDING);
        EXPECT_NE(request.Iso().Hdr.Status, USBD_STATUS_BAD_START_FRAME);
    } else {
        EXPECT_EQ(s.Returned(), STATUS_UNSUCCESSFUL);
        EXPECT_EQ(s.Wait(), STATUS_UNSUCCESSFUL);
        EXPECT_EQ(request.Iso().Hdr.Status, USBD_STATUS_BAD_START_FRAME);
        EXPECT_EQ(Counts(kIsoOut).pending, 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(Window, StartFrameWindowTest,
                         testing::Values(StartFrameCase{"Ahead1024", 1024, true},
                                         StartFrameCase{"Ahead1025", 1025, false},
                                         StartFrameCase{"Behind1024", -1024, true},
                                         StartFrameCase{"Behind1025", -1025, false},
                                         StartFrameCase{"FarAhead", 0x40000000, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(IsochronousTest, ScheduleFollowsTheFrameCounterAcrossItsWrap)
{
    bus.SetCurrentFrame(0xFFFFFFFEu);
    device->SetIsoInLength(1);
    IsoRequest request(Pipe(kIsoInPipe), true, 3, kIsoPacketSize, 0xFFFFFFFFu);
    Submission s(busDevice.Pdo(), request.Urb());
    bus.StepFrames(2);
    EXPECT_EQ(request.Iso().Hdr.Status, USBD_STATUS_PENDING);
    bus.StepFrames(1);
    ASSERT_EQ(s.Wait(), STATUS_SUCCESS);
    EXPECT_EQ(device->IsoInFrames(), (std::vector<ULONG>{0xFFFFFFFFu, 0, 1}));
    EXPECT_EQ(bus.CurrentFrame(), 1u);
}

// Requests the bus refuses before scheduling anything.
struct MalformedIso {
    const char* name;
    void (*spoil)(IsoRequest&);
    bool in;
};

class MalformedIsoTest : public TransferTest, public testing::WithParamInterface<MalformedIso> {};

TEST_P(MalformedIsoTest, IsRefusedAtOnceWithInvalidParameterAndLeavesThePipeFree)
{
    const bool in = GetParam().in;
    IsoRequest request(Pipe(in ? kIsoInPipe : kIsoOutPipe), in, 4, 64, 0);
    GetParam().spoil(request);
    Submission s(busDevice.Pdo(), request.Urb());
    EXPECT_EQ(s.Returned(), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(request.Iso().Hdr.Status, USBD_STATUS_INVALID_PARAMETER);

    IsoRequest next(Pipe(in ? kIsoInPipe : kIsoOutPipe), in, 1, 64, 0);
    Submission t(busDevice.Pdo(), next.Urb());
    EXPECT_EQ(next.Iso().StartFrame, bus.CurrentFrame() + 1);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, MalformedIsoTest,
    testing::Values(
        MalformedIso{"OutPacketPastTheBuffer", [](IsoRequest& r) { r.Packet(3).Length = 65; }, false},
        MalformedIso{"OutPacketOverThePacketSize",
                     [](IsoRequest& r) {
                         r.Iso().TransferBufferLength = 4 * 64;
                         r.Packet(0).Length = kIsoPacketSize + 1;
                     },
                     false},
        MalformedIso{"InOffsetsGoingBackwards", [](IsoRequest& r) { r.Packet(2).Offset = 0; }, true},
        MalformedIso{"InOffsetPastTheBuffer", [](IsoRequest& r) { r.Packet(3).Offset = 4 * 64 + 1; }, true},
        MalformedIso{"NoBufferForItsLength", [](IsoRequest& r) { r.Iso().TransferBuffer = nullptr; }, true},
        MalformedIso{"NoPackets",
                     [](IsoRequest& r) {
                         r.Iso().NumberOfPackets = 0;
                         r.Iso().Hdr.Length = USHORT(GET_ISO_URB_SIZE(0));
                     },
                     false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(IsochronousTest, TransferOnABulkPipeIsRefused)
{
    IsoRequest request(Pipe(kBulkOutPipe), false, 2, 8, 0);
    Submission s(busDevice.Pdo(), request.Urb());
    EXPECT_EQ(s.Returned(), STATUS_INVALID_PARAMETER);
}

TEST_F(IsochronousTest, CancelEndsATransferAndTheDeviceSeesNoMoreOfItsPackets)
{
    device->SetIsoInLength(2);
    IsoRequest request(Pipe(kIsoInPipe), true, 8, kIsoPacketSize, 0);
    Submission s(busDevice.Pdo(), request.Urb());
    bus.StepFrames(3);
    s.Cancel();
    EXPECT_EQ(s.Wait(), STATUS_CANCELLED);
    EXPECT_EQ(request.Iso().Hdr.Status, USBD_STATUS_CANCELED);
    bus.StepFrames(8);
    EXPECT_EQ(device->IsoInFrames().size(), 3u);
    EXPECT_EQ(Counts(kIsoIn).completed, 1u);
}

TEST_F(IsochronousTest, UnplugEndsATransferWithDeviceNotConnected)
{
    IsoRequest request(Pipe(kIsoOutPipe), false, 8, 8, 0);
    Submission s(busDevice.Pdo(), request.Urb());
    bus.StepFrames(1);
    bus.Unplug(busDevice);
    EXPECT_EQ(s.Wait(), STATUS_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(request.Iso().Hdr.Status, USBD_STATUS_DEVICE_GONE);
}

TEST_F(IsochronousTest, AbortEndsThePipesTransfersAndFreesItsSchedule)
{
    IsoRequest first(Pipe(kIsoOutPipe), false, 100, 8, 0);
    IsoRequest second(Pipe(kIsoOutPipe), false, 100, 8, 0);
    Submission a(busDevice.Pdo(), first.Urb());
    Submission b(busDevice.Pdo(), second.Urb());
    URB abort;
    BuildPipeRequest(&abort, URB_FUNCTION_ABORT_PIPE, Pipe(kIsoOutPipe));
    EXPECT_EQ(Submit(busDevice.Pdo(), &abort), STATUS_SUCCESS);
    EXPECT_EQ(a.Wait(), STATUS_CANCELLED);
    EXPECT_EQ(b.Wait(), STATUS_CANCELLED);

    IsoRequest next(Pipe(kIsoOutPipe), false, 1, 8, 0);
    Submission c(busDevice.Pdo(), next.Urb());
    EXPECT_EQ(next.Iso().StartFrame, bus.CurrentFrame() + 1);
}

}  // namespace
