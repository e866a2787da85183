// Stream requests: frames queued on pins, the leading-edge stream pointer,
// synchronous and asynchronous processing, completion, and the ends of
// queued requests at stop, reset and close.
#include "ksfixture.h"

#include "km/verifier.h"

#include <cstring>

namespace kstest {
namespace {

using kmsim::KsClientHandle;
using kmsim::KsStreamRequest;

// One or more KSSTREAM_HEADERs with their own frames.
struct Frames {
    explicit Frames(std::vector<std::vector<uint8_t>> data) : buffers(std::move(data)), headers(buffers.size())
    {
        for (size_t i = 0; i < buffers.size(); ++i) {
            headers[i].Size = sizeof(KSSTREAM_HEADER);
            headers[i].Data = buffers[i].data();
            headers[i].FrameExtent = ULONG(buffers[i].size());
            headers[i].DataUsed = ULONG(buffers[i].size());
        }
    }
    ULONG Bytes() const { return ULONG(headers.size() * sizeof(KSSTREAM_HEADER)); }
    std::vector<std::vector<uint8_t>> buffers;
    std::vector<KSSTREAM_HEADER> headers;
};

std::vector<uint8_t> Counting(size_t n, uint8_t first)
{
    std::vector<uint8_t> bytes(n);
    for (size_t i = 0; i < n; ++i) bytes[i] = uint8_t(first + i);
    return bytes;
}

class KsStreamTest : public KsFilterTest {
protected:
    PKSPIN KsPin(ULONG id) { return KsFilterGetFirstChildPin(KsFilterFactoryGetFirstChildFilter(State().factory), id); }

    std::unique_ptr<KsClientHandle> CapturePin()
    {
        KSDATAFORMAT_WAVEFORMATEX format = WaveFormat(2, 16, 48000);
        std::unique_ptr<KsClientHandle> pin;
        EXPECT_EQ(filter_->CreatePin(StandardConnect(kCapturePin), &format.DataFormat, &pin), STATUS_SUCCESS);
        return pin;
    }
};

TEST_F(KsStreamTest, RenderFramesWaitForAttemptsAndCompleteWhenUsedUp)
{
    std::unique_ptr<KsClientHandle> pin;
    ASSERT_EQ(CreateRenderPin(*filter_, &pin), STATUS_SUCCESS);
    ASSERT_EQ(pin->SetState(KSSTATE_RUN), STATUS_SUCCESS);
    Frames frames({Counting(100, 0), Counting(100, 100)});
    std::unique_ptr<KsStreamRequest> request;
    ASSERT_EQ(pin->SubmitStream(IOCTL_KS_WRITE_STREAM, frames.headers.data(), frames.Bytes(), &request),
              STATUS_PENDING);
    EXPECT_EQ(State().processCalls, 0u);  // the pin does not process on arrival
    State().renderBytesPerProcess = 60;  // each attempt takes 60 bytes of the leading frame, or its rest
    for (int attempt = 0; attempt < 3; ++attempt) KsPinAttemptProcessing(KsPin(kRenderPin), FALSE);
    EXPECT_FALSE(request->Done());
    KsPinAttemptProcessing(KsPin(kRenderPin), FALSE);
    EXPECT_EQ(request->Wait(), STATUS_SUCCESS);
    EXPECT_EQ(request->Information(), frames.Bytes());
    EXPECT_EQ(State().rendered, Counting(200, 0));
}

TEST_F(KsStreamTest, AStatusCodeSetOnAFrameIsWhatItsRequestCompletesWith)
{
    std::unique_ptr<KsClientHandle> pin;
    ASSERT_EQ(CreateRenderPin(*filter_, &pin), STATUS_SUCCESS);
    ASSERT_EQ(pin->SetState(KSSTATE_RUN), STATUS_SUCCESS);
    Frames frames({Counting(10, 0), Counting(10, 10)});
    std::unique_ptr<KsStreamRequest> request;
    ASSERT_EQ(pin->SubmitStream(IOCTL_KS_WRITE_STREAM, frames.headers.data(), frames.Bytes(), &request),
              STATUS_PENDING);
    State().renderFrameStatus = STATUS_INSUFFICIENT_RESOURCES;
    KsPinAttemptProcessing(KsPin(kRenderPin), FALSE);
    State().renderFrameStatus = STATUS_SUCCESS;
    EXPECT_FALSE(request->Done());
    KsPinAttemptProcessing(KsPin(kRenderPin), FALSE);
    EXPECT_EQ(request->Wait(), STATUS_INSUFFICIENT_RESOURCES);
}

TEST_F(KsStreamTest, MidiFramesAreProcessedOnArrival)
{
    std::unique_ptr<KsClientHandle> pin;
    ASSERT_EQ(CreateMidiPin(*filter_, &pin), STATUS_SUCCESS);
    ASSERT_EQ(pin->SetState(KSSTATE_RUN), STATUS_SUCCESS);
    Frames frames({std::vector<uint8_t>{0x90, 0x40, 0x7F}});
    std::unique_ptr<KsStreamRequest> request;
    pin->SubmitStream(IOCTL_KS_WRITE_STREAM, frames.headers.data(), frames.Bytes(), &request);
    EXPECT_TRUE(request->Done());
    EXPECT_EQ(request->Wait(), STATUS_SUCCESS);
    EXPECT_EQ(State().midiReceived, (std::vector<uint8_t>{0x90, 0x40, 0x7F}));
}

TEST_F(KsStreamTest, PinsNotLimitedToRunProcessFromPause)
{
    std::unique_ptr<KsClientHandle> pin;
    ASSERT_EQ(CreateMidiPin(*filter_, &pin), STATUS_SUCCESS);
    ASSERT_EQ(pin->SetState(KSSTATE_PAUSE), STATUS_SUCCESS);
    Frames frames({std::vector<uint8_t>{0xF8}});
    std::unique_ptr<KsStreamRequest> request;
    pin->SubmitStream(IOCTL_KS_WRITE_STREAM, frames.headers.data(), frames.Bytes(), &request);
    EXPECT_TRUE(request->Done());
    EXPECT_EQ(request->Wait(), STATUS_SUCCESS);
}

TEST_F(KsStreamTest, CaptureFramesReportTheBytesWritten)
{
    auto pin = CapturePin();
    ASSERT_EQ(pin->SetState(KSSTATE_RUN), STATUS_SUCCESS);
    Frames frames({std::vector<uint8_t>(64), std::vector<uint8_t>(64)});
    std::unique_ptr<KsStreamRequest> request;
    ASSERT_EQ(pin->SubmitStream(IOCTL_KS_READ_STREAM, frames.headers.data(), frames.Bytes(), &request),
              STATUS_PENDING);
    State().captureFrames = 2;
    State().captureBytes = 10;
    KsPinAttemptProcessing(KsPin(kCapturePin), FALSE);  // Process goes round while it says so
    EXPECT_EQ(request->Wait(), STATUS_SUCCESS);
    EXPECT_EQ(frames.headers[0].DataUsed, 10u);
    EXPECT_EQ(frames.headers[1].DataUsed, 10u);
    EXPECT_EQ(frames.buffers[1][9], 0xAB);
    EXPECT_EQ(frames.buffers[1][10], 0x00);
}

TEST_F(KsStreamTest, AsynchronousAttemptProcessesOnTheWorker)
{
    auto pin = CapturePin();
    ASSERT_EQ(pin->SetState(KSSTATE_RUN), STATUS_SUCCESS);
    Frames frames({std::vector<uint8_t>(32)});
    std::unique_ptr<KsStreamRequest> request;
    pin->SubmitStream(IOCTL_KS_READ_STREAM, frames.headers.data(), frames.Bytes(), &request);
    State().captureFrames = 1;
    KsPinAttemptProcessing(KsPin(kCapturePin), TRUE);
    EXPECT_EQ(request->Wait(), STATUS_SUCCESS);
    EXPECT_EQ(frames.headers[0].DataUsed, 16u);
}

TEST_F(KsStreamTest, StoppingCancelsQueuedRequests)
{
    std::unique_ptr<KsClientHandle> pin;
    ASSERT_EQ(CreateRenderPin(*filter_, &pin), STATUS_SUCCESS);
    ASSERT_EQ(pin->SetState(KSSTATE_PAUSE), STATUS_SUCCESS);
    Frames frames({Counting(8, 0)});
    std::unique_ptr<KsStreamRequest> request;
    pin->SubmitStream(IOCTL_KS_WRITE_STREAM, frames.headers.data(), frames.Bytes(), &request);
    EXPECT_FALSE(request->Done());
    ASSERT_EQ(pin->SetState(KSSTATE_STOP), STATUS_SUCCESS);
    EXPECT_EQ(request->Wait(), STATUS_CANCELLED);
}

TEST_F(KsStreamTest, ACancelledRequestLeavesTheQueueAndTheOnesBehindItStay)
{
    std::unique_ptr<KsClientHandle> pin;
    ASSERT_EQ(CreateRenderPin(*filter_, &pin), STATUS_SUCCESS);
    ASSERT_EQ(pin->SetState(KSSTATE_PAUSE), STATUS_SUCCESS);
    Frames first({Counting(8, 0), Counting(8, 8)});
    Frames second({Counting(8, 16)});
    std::unique_ptr<KsStreamRequest> cancelled, kept;
    pin->SubmitStream(IOCTL_KS_WRITE_STREAM, first.headers.data(), first.Bytes(), &cancelled);
    pin->SubmitStream(IOCTL_KS_WRITE_STREAM, second.headers.data(), second.Bytes(), &kept);

    EXPECT_TRUE(cancelled->Cancel());
    EXPECT_EQ(cancelled->Wait(), STATUS_CANCELLED);
    EXPECT_FALSE(kept->Done());
    PKSSTREAM_POINTER pointer = KsPinGetLeadingEdgeStreamPointer(KsPin(kRenderPin), KSSTREAM_POINTER_STATE_LOCKED);
    ASSERT_NE(pointer, nullptr);
    EXPECT_EQ(pointer->StreamHeader, &second.headers[0]);
    KsStreamPointerAdvanceOffsetsAndUnlock(pointer, 8, 0, FALSE);
    EXPECT_EQ(kept->Wait(), STATUS_SUCCESS);
}

// The minidriver may be using a locked frame: the request ends once it is
// unlocked, and the frame is not handed out again.
TEST_F(KsStreamTest, ACancelledRequestWhoseFrameIsLockedEndsWhenItIsUnlocked)
{
    std::unique_ptr<KsClientHandle> pin;
    ASSERT_EQ(CreateRenderPin(*filter_, &pin), STATUS_SUCCESS);
    ASSERT_EQ(pin->SetState(KSSTATE_PAUSE), STATUS_SUCCESS);
    Frames frames({Counting(8, 0), Counting(8, 8)});
    std::unique_ptr<KsStreamRequest> request;
    pin->SubmitStream(IOCTL_KS_WRITE_STREAM, frames.headers.data(), frames.Bytes(), &request);
    PKSSTREAM_POINTER pointer = KsPinGetLeadingEdgeStreamPointer(KsPin(kRenderPin), KSSTREAM_POINTER_STATE_LOCKED);
    ASSERT_NE(pointer, nullptr);

    EXPECT_TRUE(request->Cancel());
    EXPECT_FALSE(request->Done());
    KsStreamPointerUnlock(pointer, FALSE);
    EXPECT_EQ(request->Wait(), STATUS_CANCELLED);
    EXPECT_EQ(KsPinGetLeadingEdgeStreamPointer(KsPin(kRenderPin), KSSTREAM_POINTER_STATE_LOCKED), nullptr);
}

TEST_F(KsStreamTest, ClosingThePinCancelsQueuedRequests)
{
    std::unique_ptr<KsClientHandle> pin;
    ASSERT_EQ(CreateRenderPin(*filter_, &pin), STATUS_SUCCESS);
    ASSERT_EQ(pin->SetState(KSSTATE_RUN), STATUS_SUCCESS);
    Frames frames({Counting(8, 0)});
    std::unique_ptr<KsStreamRequest> request;
    pin->SubmitStream(IOCTL_KS_WRITE_STREAM, frames.headers.data(), frames.Bytes(), &request);
    pin.reset();
    EXPECT_EQ(request->Wait(), STATUS_CANCELLED);
}

TEST_F(KsStreamTest, ResetBeginCancelsAndRefusesUntilResetEnd)
{
    std::unique_ptr<KsClientHandle> pin;
    ASSERT_EQ(CreateRenderPin(*filter_, &pin), STATUS_SUCCESS);
    ASSERT_EQ(pin->SetState(KSSTATE_RUN), STATUS_SUCCESS);
    Frames frames({Counting(8, 0)});
    std::unique_ptr<KsStreamRequest> request;
    pin->SubmitStream(IOCTL_KS_WRITE_STREAM, frames.headers.data(), frames.Bytes(), &request);
    ASSERT_EQ(pin->Reset(KSRESET_BEGIN), STATUS_SUCCESS);
    EXPECT_EQ(request->Wait(), STATUS_CANCELLED);
    EXPECT_EQ(pin->SubmitStream(IOCTL_KS_WRITE_STREAM, frames.headers.data(), frames.Bytes(), &request),
              STATUS_INVALID_DEVICE_STATE);
    ASSERT_EQ(pin->Reset(KSRESET_END), STATUS_SUCCESS);
    EXPECT_EQ(pin->SubmitStream(IOCTL_KS_WRITE_STREAM, frames.headers.data(), frames.Bytes(), &request),
              STATUS_PENDING);
    KsPinAttemptProcessing(KsPin(kRenderPin), FALSE);
    EXPECT_EQ(request->Wait(), STATUS_SUCCESS);
}

TEST_F(KsStreamTest, StopPinsRefuseStreamRequests)
{
    std::unique_ptr<KsClientHandle> pin;
    ASSERT_EQ(CreateRenderPin(*filter_, &pin), STATUS_SUCCESS);
    Frames frames({Counting(8, 0)});
    std::unique_ptr<KsStreamRequest> request;
    EXPECT_EQ(pin->SubmitStream(IOCTL_KS_WRITE_STREAM, frames.headers.data(), frames.Bytes(), &request),
              STATUS_INVALID_DEVICE_STATE);
}

struct BadHeaders {
    const char* name;
    ULONG code;
    ULONG size;
    ULONG bytes;
    bool dataUsedBeyondExtent;
    NTSTATUS expected;
};

class KsBadStreamTest : public KsStreamTest, public ::testing::WithParamInterface<BadHeaders> {};

TEST_P(KsBadStreamTest, IsRefusedBeforeAnythingQueues)
{
    const BadHeaders& c = GetParam();
    std::unique_ptr<KsClientHandle> pin;
    ASSERT_EQ(CreateRenderPin(*filter_, &pin), STATUS_SUCCESS);
    ASSERT_EQ(pin->SetState(KSSTATE_RUN), STATUS_SUCCESS);
    Frames frames({Counting(8, 0), Counting(8, 8)});
    frames.headers[0].Size = c.size;
    if (c.dataUsedBeyondExtent) frames.headers[1].DataUsed = 9;
    std::unique_ptr<KsStreamRequest> request;
    EXPECT_EQ(pin->SubmitStream(c.code, frames.headers.data(), c.bytes, &request), c.expected);
    KsPinAttemptProcessing(KsPin(kRenderPin), FALSE);
    EXPECT_TRUE(State().rendered.empty());
}

constexpr ULONG kHeader = sizeof(KSSTREAM_HEADER);

INSTANTIATE_TEST_SUITE_P(
    Requests, KsBadStreamTest,
    ::testing::Values(BadHeaders{"ReadOnARenderPin", IOCTL_KS_READ_STREAM, kHeader, 2 * kHeader, false,
                                 STATUS_INVALID_DEVICE_REQUEST},
                      BadHeaders{"HeaderSizeTooSmall", IOCTL_KS_WRITE_STREAM, kHeader - 8, 2 * kHeader, false,
                                 STATUS_INVALID_PARAMETER},
                      BadHeaders{"HeaderSizeBeyondTheBuffer", IOCTL_KS_WRITE_STREAM, 3 * kHeader, 2 * kHeader, false,
                                 STATUS_INVALID_PARAMETER},
                      BadHeaders{"TrailingPartialHeader", IOCTL_KS_WRITE_STREAM, kHeader, 2 * kHeader - 4, false,
                                 STATUS_INVALID_PARAMETER},
                      BadHeaders{"NoHeaders", IOCTL_KS_WRITE_STREAM, kHeader, 0, false, STATUS_INVALID_PARAMETER},
                      BadHeaders{"DataUsedBeyondExtent", IOCTL_KS_WRITE_STREAM, kHeader, 2 * kHeader, true,
                                 STATUS_INVALID_PARAMETER}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(KsStreamTest, StreamRequestsOnAFilterHandleAreRefused)
{
    Frames frames({Counting(8, 0)});
    EXPECT_EQ(filter_->DeviceIoControl(IOCTL_KS_WRITE_STREAM, nullptr, 0, frames.headers.data(), frames.Bytes()),
              STATUS_INVALID_DEVICE_REQUEST);
}

}  // namespace
}  // namespace kstest

namespace kstest {
namespace {

TEST_F(KsStreamTest, UnplugEndsQueuedRequestsOfOpenPins)
{
    std::unique_ptr<kmsim::KsClientHandle> pin;
    ASSERT_EQ(CreateRenderPin(*filter_, &pin), STATUS_SUCCESS);
    ASSERT_EQ(pin->SetState(KSSTATE_RUN), STATUS_SUCCESS);
    Frames frames({Counting(8, 0)});
    std::unique_ptr<kmsim::KsStreamRequest> request;
    pin->SubmitStream(IOCTL_KS_WRITE_STREAM, frames.headers.data(), frames.Bytes(), &request);
    ASSERT_EQ(kmsim::UnplugDevice(pdo_), STATUS_SUCCESS);
    pin->Abandon();
    filter_->Abandon();
    EXPECT_EQ(request->Wait(), STATUS_CANCELLED);
}

// Each allocation of opening a filter, creating a pin and queueing a frame
// failed in turn: the request fails cleanly and nothing is left allocated.
TEST_F(KsStreamTest, ClientRequestsWithEachAllocationFailingLeakNothing)
{
    for (uint64_t n = 1; n < 64; ++n) {
        uint64_t before = kmsim::InjectedFailures();
        kmsim::FailNthAllocation(n);
        std::unique_ptr<kmsim::KsClientHandle> filter, pin;
        NTSTATUS status = kmsim::KsClientHandle::OpenFilter(kAudioLink, &filter);
        if (NT_SUCCESS(status)) status = CreateMidiPin(*filter, &pin);
        if (NT_SUCCESS(status)) status = pin->SetState(KSSTATE_RUN);
        std::unique_ptr<kmsim::KsStreamRequest> request;
        Frames frames({Counting(3, 0)});
        if (NT_SUCCESS(status)) {
            status = pin->SubmitStream(IOCTL_KS_WRITE_STREAM, frames.headers.data(), frames.Bytes(), &request);
        }
        bool injected = kmsim::InjectedFailures() != before;
        kmsim::ClearPoolFaults();
        if (request) request->Wait();
        pin.reset();
        filter.reset();
        if (!injected) {
            EXPECT_EQ(status, STATUS_PENDING);
            break;
        }
        EXPECT_FALSE(NT_SUCCESS(status) && status != STATUS_PENDING) << n;
    }
}

}  // namespace
}  // namespace kstest
