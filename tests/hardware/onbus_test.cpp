// The virtual devices plugged into the bus and driven by URBs as a driver
// drives them: the hooks, the wake-ups and the frame clock together.
#include "../platform/usb/transferfixture.h"

#include "hardware/devices.h"
#include "hardware/sample24.h"

namespace hardware {
namespace {

using usbtest::BulkRequest;
using usbtest::IsoRequest;
using usbtest::Submission;

class OnBusTest : public testing::Test {
protected:
    void PlugProduct(uint16_t product)
    {
        std::unique_ptr<MarvolanDevice> made = MakeDevice(product);
        device = made.get();
        busDevice = &bus.Plug(std::move(made));
        config = std::make_unique<usbtest::Configuration>(busDevice->Pdo());
        ASSERT_EQ(config->Status(), STATUS_SUCCESS);
    }
    USBD_PIPE_HANDLE Pipe(UCHAR interfaceNumber, ULONG pipe) const
    {
        return config->Pipe(interfaceNumber, pipe).PipeHandle;
    }

    usbsim::Bus bus;
    MarvolanDevice* device = nullptr;  // owned by the bus
    usbsim::BusDevice* busDevice = nullptr;
    std::unique_ptr<usbtest::Configuration> config;
};

TEST_F(OnBusTest, APendingMidiReadCompletesAsSoonAsATestSendsSomething)
{
    PlugProduct(kRawMidiA);
    BulkRequest read(Pipe(0, 1), true, 64);
    Submission s(busDevice->Pdo(), &read.urb);
    bus.Flush();
    EXPECT_EQ(read.urb.UrbHeader.Status, USBD_STATUS_PENDING);
    device->MidiIn(0x81).Send(MidiBytes{0x90, 0x3C, 0x64});
    ASSERT_EQ(s.Wait(), STATUS_SUCCESS);  // woken, no frame step
    EXPECT_EQ(read.Received(), (MidiBytes{0x90, 0x3C, 0x64}));
}

TEST_F(OnBusTest, AWriteHeldByAPipeThatStoppedAnsweringGoesThroughWhenItAnswersAgain)
{
    PlugProduct(kRawMidiA);
    device->MidiOut(0x02).SetAnswering(false);
    BulkRequest write(Pipe(0, 0), MidiBytes{0xC0, 0x05});
    Submission s(busDevice->Pdo(), &write.urb);
    bus.StepFrames(3);
    EXPECT_EQ(write.urb.UrbHeader.Status, USBD_STATUS_PENDING);
    EXPECT_TRUE(device->MidiOut(0x02).Transfers().empty());
    device->MidiOut(0x02).SetAnswering(true);
    ASSERT_EQ(s.Wait(), STATUS_SUCCESS);
    EXPECT_EQ(device->MidiOut(0x02).Stream(), (MidiBytes{0xC0, 0x05}));
}

TEST_F(OnBusTest, AFailedMidiReadCompletesWithTheChosenStatus)
{
    PlugProduct(kClassMidiSmall);
    device->MidiIn(0x82).FailReads(USBD_STATUS_STALL_PID, 1);
    BulkRequest read(Pipe(1, 1), true, 64);
    Submission s(busDevice->Pdo(), &read.urb);
    EXPECT_NE(s.Wait(), STATUS_SUCCESS);
    EXPECT_EQ(read.urb.UrbHeader.Status, USBD_STATUS_STALL_PID);
}

TEST_F(OnBusTest, EchoedClassMidiComesBackOnTheSameCable)
{
    PlugProduct(kClassMidiLarge);
    device->EchoMidi(true);
    BulkRequest read(Pipe(1, 1), true, 64);
    Submission r(busDevice->Pdo(), &read.urb);
    BulkRequest write(Pipe(1, 0), MidiBytes{0x39, 0x90, 0x3C, 0x64});
    Submission w(busDevice->Pdo(), &write.urb);
    ASSERT_EQ(w.Wait(), STATUS_SUCCESS);
    ASSERT_EQ(r.Wait(), STATUS_SUCCESS);
    EXPECT_EQ(read.Received(), (MidiBytes{0x39, 0x90, 0x3C, 0x64}));
}

class OnBusAudioTest : public OnBusTest {
protected:
    void SetUp() override
    {
        PlugProduct(kAudioMidi);
        usbtest::UrbBuffer select = usbtest::SelectInterfaceUrb(config->Handle(), 0, 1, 2);
        ASSERT_EQ(usbtest::Submit(busDevice->Pdo(), select.Get()), STATUS_SUCCESS);
        const USBD_INTERFACE_INFORMATION& info = select->UrbSelectInterface.Interface;
        render = info.Pipes[0].PipeHandle;
        capture = info.Pipes[1].PipeHandle;
    }

    USBD_PIPE_HANDLE render = nullptr;
    USBD_PIPE_HANDLE capture = nullptr;
};

TEST_F(OnBusAudioTest, RenderPacketsAreRecordedInTheFramesTheyRan)
{
    bus.SetCurrentFrame(1000);
    IsoRequest request(render, false, 4, 48 * 12, 1003);
    for (size_t i = 0; i < request.Data().size(); ++i) request.Data()[i] = uint8_t(i / (48 * 12));
    Submission s(busDevice->Pdo(), request.Urb());
    bus.StepFrames(8);
    ASSERT_EQ(s.Wait(), STATUS_SUCCESS);
    const std::vector<AudioPacket> packets = device->AudioOut(0x01).Packets();
    ASSERT_EQ(packets.size(), 4u);
    for (ULONG k = 0; k < 4; ++k) {
        EXPECT_EQ(packets[k].frame, 1003 + k);
        EXPECT_EQ(packets[k].bytes, std::vector<uint8_t>(48 * 12, uint8_t(k)));
    }
}

TEST_F(OnBusAudioTest, CapturePacketsFollowTheRateTheHostSet)
{
    usbtest::UrbBuffer rate(sizeof(_URB_CONTROL_VENDOR_OR_CLASS_REQUEST));
    uint8_t rateBytes[3] = {0x44, 0xAC, 0x00};  // 44100
    usbtest::BuildClassEndpoint(rate.Get(), 0x82, 0x01, 0x0100, rateBytes, 3, false);
    ASSERT_EQ(usbtest::Submit(busDevice->Pdo(), rate.Get()), STATUS_SUCCESS);
    device->AudioIn(0x82).SetRamp();

    IsoRequest request(capture, true, 10, 306, 0);
    Submission s(busDevice->Pdo(), request.Urb());
    bus.StepFrames(12);
    ASSERT_EQ(s.Wait(), STATUS_SUCCESS);
    std::vector<int32_t> samples;
    for (ULONG k = 0; k < 10; ++k) {
        const ULONG length = request.Packet(k).Length;
        EXPECT_EQ(length, (k == 9 ? 45u : 44u) * 6) << "packet " << k;
        const auto part = DecodeSamples24(std::span(request.Data()).subspan(k * 306, length));
        samples.insert(samples.end(), part.begin(), part.end());
    }
    ASSERT_EQ(samples.size(), 441u * 2);
    for (size_t i = 0; i < samples.size(); ++i) ASSERT_EQ(samples[i], int32_t(i));
}

TEST_F(OnBusAudioTest, LoopbackThroughTheBusReturnsTheRenderedChannelsLater)
{
    device->LoopBackAudio(2);
    bus.SetCurrentFrame(50);
    IsoRequest out(render, false, 1, 48 * 12, 52);
    for (ULONG i = 0; i < 48 * 4; ++i) WriteSample24(&out.Data()[i * 3], int32_t(i) - 96);
    IsoRequest in(capture, true, 1, 306, 54);
    Submission so(busDevice->Pdo(), out.Urb());
    Submission si(busDevice->Pdo(), in.Urb());
    bus.StepFrames(5);
    ASSERT_EQ(so.Wait(), STATUS_SUCCESS);
    ASSERT_EQ(si.Wait(), STATUS_SUCCESS);
    ASSERT_EQ(in.Packet(0).Length, 48u * 6);
    const std::vector<int32_t> s = DecodeSamples24(std::span(in.Data()).first(48 * 6));
    for (ULONG f = 0; f < 48; ++f) {
        EXPECT_EQ(s[2 * f], int32_t(4 * f) - 96);
        EXPECT_EQ(s[2 * f + 1], int32_t(4 * f + 1) - 96);
    }
}

}  // namespace
}  // namespace hardware
