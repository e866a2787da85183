// When a stream runs: it runs while a client is in RUN and the device is
// powered, whatever order power, UrbSize and clients arrive in; and a rate
// the device refuses never leaves a pin behind that the wire does not carry.
#include "audiostream.h"
#include "devicesettingsclient.h"
#include "hardware/audiosink.h"
#include "streamclient.h"

namespace {

// Product 0x10: 4-channel render on 0x01 (pin 0), stereo capture on 0x82
// (pin 2). The generic class device: stereo render on 0x03, capture 0x84.
constexpr ULONG kRenderPin = 0;
constexpr ULONG kCapturePin = 2;
constexpr UCHAR kQuadRender = 0x01;

class AudioStreamLifecycle : public testing::Test {
protected:
    void Plug(uint16_t product)
    {
        ASSERT_EQ(m_bed.Plug(product), STATUS_SUCCESS);
        m_filter = m_bed.OpenFilter();
        ASSERT_NE(m_filter, nullptr);
        m_device = DeviceContext(*m_filter);
        ASSERT_NE(m_device, nullptr);
    }
    void Step(ULONG frames) { m_bed.Bus().StepFrames(frames); }
    // Power changes wait for running streams to drain, which takes frames.
    void SetPower(DEVICE_POWER_STATE state)
    {
        m_bed.Bus().StartPacing(0);
        EXPECT_EQ(kmsim::SetDevicePowerState(m_bed.Pdo(), state), STATUS_SUCCESS);
        m_bed.Bus().StopPacing();
        m_bed.Bus().Flush();
    }
    ULONG Submitted(UCHAR endpoint) { return m_bed.Bus().Transfers(m_bed.Usb(), endpoint).submitted; }
    size_t WirePackets(UCHAR endpoint) { return m_bed.Hardware().AudioOut(endpoint).PacketCount(); }

    DriverTestBed m_bed;
    kmsim::KsClientHandle* m_filter = nullptr;
    UsbAudioDevice* m_device = nullptr;
};

TEST_F(AudioStreamLifecycle, AnUrbSizeChangeWhilePoweredDownSendsNothingUntilPowerUp)
{
    Plug(hardware::kAudioMidi);
    StreamClient render(m_bed.Bus(), *m_filter, kRenderPin, PcmFormat(48000, 24, 4));
    ASSERT_EQ(render.Run(), STATUS_SUCCESS);
    Step(30);
    SetPower(PowerDeviceD3);
    const ULONG before = Submitted(kQuadRender);

    m_bed.Bus().StartPacing(0);
    ASSERT_EQ(SetUrbSize(m_filter, 4), STATUS_SUCCESS);
    m_bed.Bus().StopPacing();
    m_bed.Bus().Flush();
    EXPECT_EQ(Submitted(kQuadRender), before) << "transfers handed to a powered-down device";
    EXPECT_EQ(GetUrbSize(m_filter), 4u);

    SetPower(PowerDeviceD0);
    const size_t packets = WirePackets(kQuadRender);
    Step(40);
    EXPECT_GT(WirePackets(kQuadRender), packets);
    EXPECT_EQ(m_device->RenderStream(0)->Transfer(0).packets, 4u);
    ASSERT_EQ(render.Pause(), STATUS_SUCCESS);
}

// A suspended port fails what it is given; however the stream stopped, the
// client still in RUN is served again after power-up.
TEST_F(AudioStreamLifecycle, AStreamThatStoppedItselfRunsAgainAtPowerUp)
{
    Plug(hardware::kAudioMidi);
    StreamClient render(m_bed.Bus(), *m_filter, kRenderPin, PcmFormat(48000, 24, 4));
    ASSERT_EQ(render.Run(), STATUS_SUCCESS);
    m_bed.Usb().InjectFault({.action = usbsim::RequestFault::Action::FailAfterPending,
                             .function = URB_FUNCTION_ISOCH_TRANSFER,
                             .status = STATUS_UNSUCCESSFUL,
                             .usbdStatus = USBD_STATUS_DEV_NOT_RESPONDING});
    Step(40);
    ASSERT_FALSE(m_device->RenderStream(0)->IsRunning());

    SetPower(PowerDeviceD3);
    SetPower(PowerDeviceD0);
    const size_t packets = WirePackets(kQuadRender);
    Step(40);
    EXPECT_GT(WirePackets(kQuadRender), packets);
    EXPECT_TRUE(m_device->RenderStream(0)->IsRunning());
    ASSERT_EQ(render.Pause(), STATUS_SUCCESS);
}

TEST_F(AudioStreamLifecycle, APinEnteringRunWhilePoweredDownStartsAtPowerUp)
{
    Plug(hardware::kAudioMidi);
    StreamClient render(m_bed.Bus(), *m_filter, kRenderPin, PcmFormat(48000, 24, 4));
    SetPower(PowerDeviceD3);
    const ULONG before = Submitted(kQuadRender);
    ASSERT_EQ(render.Run(), STATUS_SUCCESS);
    Step(40);
    EXPECT_EQ(Submitted(kQuadRender), before) << "transfers handed to a powered-down device";

    SetPower(PowerDeviceD0);
    Step(40);
    EXPECT_GT(WirePackets(kQuadRender), 0u);
    ASSERT_EQ(render.Pause(), STATUS_SUCCESS);
}

// A start held up past the bus's scheduling window (a loaded machine) finds
// the frame of its first or of its second transfer gone; it chooses again
// instead of leaving the pin silent or failing the change that restarted it.
TEST_F(AudioStreamLifecycle, AStartWhoseFirstOrSecondFrameIsGoneChoosesAgain)
{
    Plug(hardware::kAudioMidi);
    for (ULONG nth : {1u, 2u}) {
        SCOPED_TRACE("refused transfer " + std::to_string(nth));
        StreamClient render(m_bed.Bus(), *m_filter, kRenderPin, PcmFormat(48000, 24, 4));
        m_bed.Usb().InjectFault({.action = usbsim::RequestFault::Action::Fail,
                                 .nth = nth,
                                 .function = URB_FUNCTION_ISOCH_TRANSFER,
                                 .status = STATUS_UNSUCCESSFUL,
                                 .usbdStatus = USBD_STATUS_BAD_START_FRAME});
        ASSERT_EQ(render.Run(), STATUS_SUCCESS);
        const size_t packets = WirePackets(kQuadRender);
        Step(40);
        EXPECT_GT(WirePackets(kQuadRender), packets);
        EXPECT_TRUE(m_device->RenderStream(0)->IsRunning());
        ASSERT_EQ(render.Pause(), STATUS_SUCCESS);
    }
}

// Both transfers reach the bus after their frames passed (a completion
// thread held up for long): every packet is missed, which is lateness, not
// a failing device; the stream falls back on the grid and plays on.
TEST_F(AudioStreamLifecycle, TransfersThatReachedTheBusLateDoNotStopTheStream)
{
    Plug(hardware::kAudioMidi);
    StreamClient render(m_bed.Bus(), *m_filter, kRenderPin, PcmFormat(48000, 24, 4));
    ASSERT_EQ(render.Run(), STATUS_SUCCESS);
    m_bed.Bus().SetCurrentFrame(m_bed.Bus().CurrentFrame() + 100);
    m_bed.Bus().Flush();
    const size_t packets = WirePackets(kQuadRender);
    Step(40);
    EXPECT_GT(WirePackets(kQuadRender), packets);
    EXPECT_TRUE(m_device->RenderStream(0)->IsRunning());
    ASSERT_EQ(render.Pause(), STATUS_SUCCESS);
}

// The device refuses the sampling-frequency request on the endpoints of
// one direction, as one whose rate belongs to a clock entity does.
using RateRequests = hardware::MarvolanDevice::RateRequests;
class RefusedSampleRate : public AudioStreamLifecycle, public testing::WithParamInterface<RateRequests> {};

TEST_P(RefusedSampleRate, RefusesThePinAndKeepsEveryStreamAtTheDeviceRate)
{
    Plug(0x100);
    m_bed.Hardware().SetRateRequests(GetParam());
    StreamClient refused(m_bed.Bus(), *m_filter, kRenderPin, PcmFormat(44100, 24, 2));
    EXPECT_FALSE(NT_SUCCESS(refused.Status()));
    EXPECT_EQ(m_device->SampleRate(), 48000u);
    EXPECT_EQ(m_device->CaptureStream(0)->SampleRate(), 48000u);
    EXPECT_EQ(m_device->RenderStream(0)->SampleRate(), 48000u);
    EXPECT_EQ(m_device->OpenAudioPins(), 0u);

    // Nothing is held: once the device takes the rate, the next pin has it.
    m_bed.Hardware().SetRateRequests(RateRequests::Accepted);
    StreamClient render(m_bed.Bus(), *m_filter, kRenderPin, PcmFormat(44100, 24, 2));
    ASSERT_EQ(render.Status(), STATUS_SUCCESS);
    EXPECT_EQ(m_device->CaptureStream(0)->SampleRate(), 44100u);
    EXPECT_EQ(m_device->RenderStream(0)->SampleRate(), 44100u);
}

INSTANTIATE_TEST_SUITE_P(OnEitherEndpoint, RefusedSampleRate,
                         testing::Values(RateRequests::StalledOnCapture, RateRequests::StalledOnRender),
                         [](const auto& info) {
                             return info.param == RateRequests::StalledOnCapture ? "Capture" : "Render";
                         });

// A device that refuses every sampling-frequency request: its pins fail at
// creation, instead of opening and never moving a frame.
TEST_F(AudioStreamLifecycle, PinsOfADeviceThatRefusesEveryRateFailAtCreation)
{
    auto device = hardware::MakeDevice(0x100);
    device->SetRateRequests(RateRequests::Stalled);
    ASSERT_EQ(m_bed.PlugHardware(std::move(device)), STATUS_SUCCESS);
    m_filter = m_bed.OpenFilter();
    ASSERT_NE(m_filter, nullptr);
    StreamClient render(m_bed.Bus(), *m_filter, kRenderPin, PcmFormat(48000, 24, 2));
    StreamClient capture(m_bed.Bus(), *m_filter, kCapturePin, PcmFormat(48000, 24, 2));
    EXPECT_FALSE(NT_SUCCESS(render.Status()));
    EXPECT_FALSE(NT_SUCCESS(capture.Status()));
    EXPECT_EQ(m_bed.Bus().Transfers(m_bed.Usb(), 0x03).submitted, 0u);
}

}  // namespace
