// Audio through the driver's pins onto the virtual device's isochronous
// endpoints, driven by client requests and checked on the wire.
#include "hardware/audiosink.h"
#include "hardware/audiosource.h"
#include "devicesettings.h"
#include "kernelobject.h"
#include "streamclient.h"

#include <algorithm>
#include <numeric>

namespace {

// The generic class-compliant device: stereo render on 0x03 (pin 0),
// stereo capture on 0x84 (pin 2). Product 0x10: 4-channel render on 0x01
// (pin 0), stereo capture on 0x82 (pin 2).
constexpr ULONG kRenderPin = 0;
constexpr ULONG kCapturePin = 2;

class AudioStreaming : public testing::Test {
protected:
    void Plug(uint16_t product)
    {
        ASSERT_EQ(m_bed.Plug(product), STATUS_SUCCESS);
        m_filter = m_bed.OpenFilter();
        ASSERT_NE(m_filter, nullptr);
    }
    void Step(ULONG frames) { m_bed.Bus().StepFrames(frames); }
    hardware::AudioSink& Sink(UCHAR endpoint) { return m_bed.Hardware().AudioOut(endpoint); }

    DriverTestBed m_bed;
    kmsim::KsClientHandle* m_filter = nullptr;
};

// Packet lengths on the wire, skipping none.
std::vector<size_t> PacketLengths(const hardware::AudioSink& sink)
{
    std::vector<size_t> lengths;
    for (const auto& packet : sink.Packets()) lengths.push_back(packet.bytes.size());
    return lengths;
}

TEST_F(AudioStreaming, At44100HzPacketsFollowTheNineAndOnePatternAcrossTransfers)
{
    Plug(0x100);
    StreamClient render(m_bed.Bus(), *m_filter, kRenderPin, PcmFormat(44100, 24, 2));
    ASSERT_EQ(render.Status(), STATUS_SUCCESS);
    ASSERT_EQ(render.Run(), STATUS_SUCCESS);
    Step(1100);
    auto lengths = PacketLengths(Sink(0x03));
    ASSERT_GE(lengths.size(), 1000u);
    for (size_t i = 0; i < 1000; ++i) EXPECT_EQ(lengths[i], i % 10 == 9 ? 270u : 264u) << "packet " << i;
    const size_t bytes = std::accumulate(lengths.begin(), lengths.begin() + 1000, size_t(0));
    EXPECT_EQ(bytes / 6, 44100u);
    ASSERT_EQ(render.Pause(), STATUS_SUCCESS);
}

TEST_F(AudioStreaming, At48000HzFourChannelPacketsHold576Bytes)
{
    Plug(hardware::kAudioMidi);
    StreamClient render(m_bed.Bus(), *m_filter, kRenderPin, PcmFormat(48000, 24, 4));
    ASSERT_EQ(render.Status(), STATUS_SUCCESS);
    ASSERT_EQ(render.Run(), STATUS_SUCCESS);
    Step(100);
    for (size_t length : PacketLengths(Sink(0x01))) EXPECT_EQ(length, 576u);
}

TEST_F(AudioStreaming, RenderDataReachesTheWireInOrder)
{
    Plug(0x100);
    StreamClient render(m_bed.Bus(), *m_filter, kRenderPin, PcmFormat(48000, 24, 2));
    ASSERT_EQ(render.Run(), STATUS_SUCCESS);
    // Five transfers' worth of a ramp, in frames of 10 ms.
    int32_t value = 1;
    for (int f = 0; f < 5; ++f) {
        std::vector<uint8_t> bytes;
        for (int s = 0; s < 960; ++s) PutSample(bytes, value++, 24);
        render.Write(std::move(bytes));
    }
    Step(100);
    std::vector<int32_t> samples = Sink(0x03).Samples();
    // Silence first (the transfers in flight), then the ramp without a gap.
    auto first = std::find(samples.begin(), samples.end(), 1);
    ASSERT_NE(first, samples.end());
    for (int32_t v = 1; v < value && first != samples.end(); ++v, ++first) ASSERT_EQ(*first, v);
    auto completed = render.TakeCompleted();
    EXPECT_EQ(completed.size(), 5u);
}

TEST_F(AudioStreaming, TwoRenderClientsMixWithSaturationBothWays)
{
    Plug(0x100);
    kmsim::KsClientHandle* second = m_bed.OpenFilter();
    StreamClient a(m_bed.Bus(), *m_filter, kRenderPin, PcmFormat(48000, 24, 2));
    StreamClient b(m_bed.Bus(), *second, kRenderPin, PcmFormat(48000, 24, 2));
    ASSERT_EQ(a.Status(), STATUS_SUCCESS);
    ASSERT_EQ(b.Status(), STATUS_SUCCESS);
    ASSERT_EQ(a.Run(), STATUS_SUCCESS);
    ASSERT_EQ(b.Run(), STATUS_SUCCESS);
    std::vector<uint8_t> loud, louder;
    for (int s = 0; s < 960; ++s) {
        PutSample(loud, s % 2 ? 0x7FFFFF : -0x800000, 24);
        PutSample(louder, s % 2 ? 1 : -1, 24);
    }
    for (int f = 0; f < 4; ++f) {
        a.Write(loud);
        b.Write(louder);
    }
    Step(80);
    std::vector<int32_t> samples = Sink(0x03).Samples();
    size_t mixed = 0;
    for (size_t i = 0; i + 1 < samples.size(); i += 2) {
        if (samples[i] == 0 && samples[i + 1] == 0) continue;
        EXPECT_EQ(samples[i], -0x800000);
        EXPECT_EQ(samples[i + 1], 0x7FFFFF);
        ++mixed;
    }
    EXPECT_GE(mixed, 960u);
}

TEST_F(AudioStreaming, ASecondClientWithoutFramesLeavesTheFirstIntact)
{
    Plug(0x100);
    kmsim::KsClientHandle* second = m_bed.OpenFilter();
    StreamClient a(m_bed.Bus(), *m_filter, kRenderPin, PcmFormat(48000, 16, 2));
    StreamClient idle(m_bed.Bus(), *second, kRenderPin, PcmFormat(48000, 16, 2));
    ASSERT_EQ(a.Run(), STATUS_SUCCESS);
    ASSERT_EQ(idle.Run(), STATUS_SUCCESS);
    std::vector<uint8_t> bytes;
    for (int s = 0; s < 960; ++s) PutSample(bytes, 0x1234, 16);
    for (int f = 0; f < 3; ++f) a.Write(bytes);
    Step(60);
    size_t heard = 0;
    for (int32_t sample : Sink(0x03).Samples()) {
        if (sample == 0) continue;
        EXPECT_EQ(sample, 0x123400);
        ++heard;
    }
    EXPECT_EQ(heard, 3u * 960);
}

TEST_F(AudioStreaming, StereoSixteenBitOnAFourChannelStreamLeavesChannelsTwoAndThreeSilent)
{
    Plug(hardware::kAudioMidi);
    StreamClient render(m_bed.Bus(), *m_filter, kRenderPin, PcmFormat(48000, 16, 2));
    ASSERT_EQ(render.Run(), STATUS_SUCCESS);
    std::vector<uint8_t> bytes;
    for (int s = 0; s < 960; ++s) PutSample(bytes, s % 2 ? -2 : 3, 16);
    render.Write(bytes);
    Step(40);
    const auto left = Sink(0x01).ChannelSamples(0);
    EXPECT_NE(std::count(left.begin(), left.end(), 3 * 256), 0);
    for (ULONG channel : {2u, 3u}) {
        const auto samples = Sink(0x01).ChannelSamples(channel);
        EXPECT_EQ(std::count(samples.begin(), samples.end(), 0), ptrdiff_t(samples.size()));
    }
}

TEST_F(AudioStreaming, AFrameEndingMidSampleContinuesByteExactlyInTheNext)
{
    Plug(0x100);
    StreamClient render(m_bed.Bus(), *m_filter, kRenderPin, PcmFormat(48000, 24, 2));
    ASSERT_EQ(render.Run(), STATUS_SUCCESS);
    std::vector<uint8_t> stream;
    for (int s = 1; s <= 960; ++s) PutSample(stream, s * 7, 24);
    // 1000 bytes then the rest: the first frame ends inside a sample.
    render.Write(std::vector<uint8_t>(stream.begin(), stream.begin() + 1000));
    render.Write(std::vector<uint8_t>(stream.begin() + 1000, stream.end()));
    Step(40);
    std::vector<uint8_t> wire = Sink(0x03).Bytes();
    auto at = std::search(wire.begin(), wire.end(), stream.begin(), stream.begin() + 6);
    ASSERT_NE(at, wire.end());
    ASSERT_GE(size_t(wire.end() - at), stream.size());
    EXPECT_TRUE(std::equal(stream.begin(), stream.end(), at));
}

TEST_F(AudioStreaming, ZeroLengthCapturePacketsEndTheReadOfATransfer)
{
    Plug(0x100);
    hardware::AudioSource& source = m_bed.Hardware().AudioIn(0x84);
    source.SetRamp();
    // Per transfer of ten packets: three full ones, then nothing.
    source.SetPacketPattern({48, 48, 48, 0, 48, 48, 48, 48, 48, 48});
    StreamClient capture(m_bed.Bus(), *m_filter, kCapturePin, PcmFormat(48000, 24, 2));
    ASSERT_EQ(capture.Run(), STATUS_SUCCESS);
    for (int f = 0; f < 4; ++f) capture.Read(48 * 6 * 3);
    Step(60);
    auto frames = capture.TakeCompleted();
    ASSERT_GE(frames.size(), 2u);
    for (auto& frame : frames) EXPECT_EQ(frame.header.DataUsed, 48u * 6 * 3);
}

TEST_F(AudioStreaming, SixteenBitCaptureTakesTheTopTwoBytesOfEachSample)
{
    Plug(0x100);
    hardware::AudioSource& source = m_bed.Hardware().AudioIn(0x84);
    source.SetRamp(0x123400);  // sample 1 = 0x1234FF... from the ramp's first steps
    StreamClient capture(m_bed.Bus(), *m_filter, kCapturePin, PcmFormat(48000, 16, 2));
    ASSERT_EQ(capture.Run(), STATUS_SUCCESS);
    capture.Read(960 * 2);
    Step(60);
    auto frames = capture.TakeCompleted();
    ASSERT_FALSE(frames.empty());
    const auto sent = source.Sent();
    ASSERT_FALSE(sent.empty());
    // Whatever the wire carried, the client holds bytes 1 and 2 of it.
    const std::vector<uint8_t>& data = frames[0].data;
    const auto wire = sent.front().bytes;
    ASSERT_GE(wire.size(), 6u);
    EXPECT_EQ(data[0], wire[1]);
    EXPECT_EQ(data[1], wire[2]);
}

TEST_F(AudioStreaming, FramesAreStampedByClientBytes)
{
    Plug(0x100);
    StreamClient render(m_bed.Bus(), *m_filter, kRenderPin, PcmFormat(48000, 16, 2));
    ASSERT_EQ(render.Run(), STATUS_SUCCESS);
    render.Write(std::vector<uint8_t>(960, 0));
    render.Write(std::vector<uint8_t>(960, 0));
    Step(60);
    auto frames = render.TakeCompleted();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].header.PresentationTime.Time, 0);
    EXPECT_EQ(frames[0].header.Duration, 50000);
    EXPECT_EQ(frames[1].header.PresentationTime.Time, 50000);
    const ULONG flags = KSSTREAM_HEADER_OPTIONSF_TIMEVALID | KSSTREAM_HEADER_OPTIONSF_DURATIONVALID;
    EXPECT_EQ(frames[1].header.OptionsFlags & flags, flags);
    EXPECT_EQ(frames[1].header.OptionsFlags & KSSTREAM_HEADER_OPTIONSF_DATADISCONTINUITY, 0u);
}

TEST_F(AudioStreaming, NothingIsAllocatedWhileStreaming)
{
    Plug(hardware::kAudioMidi);
    StreamClient render(m_bed.Bus(), *m_filter, kRenderPin, PcmFormat(48000, 24, 4));
    ASSERT_EQ(render.Run(), STATUS_SUCCESS);
    render.Write(std::vector<uint8_t>(5760 * 4, 0x11));
    const uint64_t driverBefore = kmsim::PoolOutstanding(kObjectTag).allocations +
                                  kmsim::PoolOutstanding(kBufferTag).allocations;
    Step(100);
    EXPECT_EQ(kmsim::PoolOutstanding(kObjectTag).allocations + kmsim::PoolOutstanding(kBufferTag).allocations,
              driverBefore);
}

TEST_F(AudioStreaming, UnplugWhileRunningStopsTheStreamItself)
{
    Plug(hardware::kAudioMidi);
    StreamClient render(m_bed.Bus(), *m_filter, kRenderPin, PcmFormat(48000, 24, 4));
    ASSERT_EQ(render.Run(), STATUS_SUCCESS);
    Step(30);
    m_bed.Bus().Unplug(m_bed.Usb());
    // Leaving RUN now finds the stream stopped and returns at once.
    EXPECT_EQ(render.Pause(), STATUS_SUCCESS);
}

}  // namespace

namespace {

// A stream that stopped itself on a failed transfer still has its other
// transfer draining; a new UrbSize must not rebuild that transfer under it.
TEST_F(AudioStreaming, ResizingAfterAFailedTransferWaitsForTheOneStillInFlight)
{
    Plug(hardware::kAudioMidi);
    StreamClient render(m_bed.Bus(), *m_filter, kRenderPin, PcmFormat(48000, 24, 4));
    ASSERT_EQ(render.Status(), STATUS_SUCCESS);
    m_bed.Usb().InjectFault({.action = usbsim::RequestFault::Action::FailAfterPending,
                             .nth = 1,
                             .function = URB_FUNCTION_ISOCH_TRANSFER,
                             .status = STATUS_UNSUCCESSFUL,
                             .usbdStatus = USBD_STATUS_STALL_PID});
    ASSERT_EQ(render.Run(), STATUS_SUCCESS);
    m_bed.Bus().Flush();
    // The clock runs, as the rebuild waits for the surviving transfer.
    m_bed.Bus().StartPacing(0);
    ULONG urbSize = 4;
    EXPECT_EQ(m_filter->Property(KSPROPSETID_DeviceSettings, KSPROPERTY_DEVICESETTINGS_URBSIZE, KSPROPERTY_TYPE_SET,
                                 &urbSize, sizeof(urbSize)),
              STATUS_SUCCESS);
    m_bed.Bus().StopPacing();
}

// Power-down suspends a running stream to restart it at power-up; when its
// last client leaves in between, there is nothing to restart it for.
TEST_F(AudioStreaming, AStreamWhoseLastClientLeftWhileSuspendedStaysStoppedAtPowerUp)
{
    Plug(hardware::kAudioMidi);
    StreamClient render(m_bed.Bus(), *m_filter, kRenderPin, PcmFormat(48000, 24, 4));
    ASSERT_EQ(render.Run(), STATUS_SUCCESS);
    Step(30);
    // The clock runs while the suspended stream drains.
    m_bed.Bus().StartPacing(0);
    ASSERT_EQ(kmsim::SetDevicePowerState(m_bed.Pdo(), PowerDeviceD3), STATUS_SUCCESS);
    m_bed.Bus().StopPacing();
    ASSERT_EQ(render.Pause(), STATUS_SUCCESS);
    ASSERT_EQ(kmsim::SetDevicePowerState(m_bed.Pdo(), PowerDeviceD0), STATUS_SUCCESS);
    m_bed.Bus().Flush();
    EXPECT_EQ(m_bed.Bus().Transfers(m_bed.Usb(), 0x01).pending, 0u);
    // A stream left running would drain at unplug only with the clock on.
    m_bed.Bus().StartPacing(0);
}

}  // namespace
