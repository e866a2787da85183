#include "hardware/devices.h"
#include "hardware/sample24.h"

#include <gtest/gtest.h>

namespace hardware {
namespace {

struct MidiEndpointCase {
    uint16_t product;
    UCHAR out;
    UCHAR in;
    MidiFormat format;
};

class ProductMidiTest : public testing::TestWithParam<MidiEndpointCase> {};

TEST_P(ProductMidiTest, EveryMidiPipeSpeaksItsInterfacesFormat)
{
    const std::unique_ptr<MarvolanDevice> device = MakeDevice(GetParam().product);
    EXPECT_EQ(device->MidiOut(GetParam().out).Format(), GetParam().format);
    EXPECT_EQ(device->MidiIn(GetParam().in).Format(), GetParam().format);
}

INSTANTIATE_TEST_SUITE_P(
    Products, ProductMidiTest,
    testing::Values(MidiEndpointCase{kRawMidiA, 0x02, 0x81, MidiFormat::Raw},
                    MidiEndpointCase{kRawMidiB, 0x02, 0x81, MidiFormat::Raw},
                    MidiEndpointCase{kRunningStatusMidi, 0x02, 0x81, MidiFormat::RunningStatus},
                    MidiEndpointCase{kAudioMidi, 0x03, 0x84, MidiFormat::Raw},
                    MidiEndpointCase{kClassMidiSmall, 0x01, 0x82, MidiFormat::Class},
                    MidiEndpointCase{kClassMidiSmall, 0x03, 0x84, MidiFormat::Class},  // Kinetra ports
                    MidiEndpointCase{kClassMidiMedium, 0x03, 0x84, MidiFormat::Class},
                    MidiEndpointCase{kClassMidiLarge, 0x01, 0x82, MidiFormat::Class},
                    MidiEndpointCase{kClassCompliant, 0x05, 0x86, MidiFormat::Class},
                    MidiEndpointCase{kClassCompliant, 0x07, 0x88, MidiFormat::Framed}));

struct AudioEndpointCase {
    uint16_t product;
    UCHAR out;
    ULONG outChannels;
    UCHAR in;
    ULONG inChannels;
};

class ProductAudioTest : public testing::TestWithParam<AudioEndpointCase> {};

TEST_P(ProductAudioTest, IsochronousPipesAreAudioWithTheirChannelCounts)
{
    const std::unique_ptr<MarvolanDevice> device = MakeDevice(GetParam().product);
    EXPECT_EQ(device->AudioOut(GetParam().out).Channels(), GetParam().outChannels);
    EXPECT_EQ(device->AudioIn(GetParam().in).Channels(), GetParam().inChannels);
}

INSTANTIATE_TEST_SUITE_P(Products, ProductAudioTest,
                         testing::Values(AudioEndpointCase{kAudioMidi, 0x01, 4, 0x82, 2},
                                         AudioEndpointCase{kClassCompliant, 0x03, 2, 0x84, 2}));

TEST(MarvolanDeviceTest, MidiOnlyProductsHaveNoAudio)
{
    const std::unique_ptr<MarvolanDevice> device = MakeDevice(kClassMidiLarge);
    EXPECT_TRUE(device->AudioOutEndpoints().empty());
    EXPECT_TRUE(device->AudioInEndpoints().empty());
    EXPECT_EQ(device->MidiOutEndpoints(), (std::vector<UCHAR>{0x01, 0x03}));
    EXPECT_EQ(device->MidiInEndpoints(), (std::vector<UCHAR>{0x82, 0x84}));
    EXPECT_THROW(device->AudioOut(0x01), std::out_of_range);
    EXPECT_THROW(device->MidiIn(0x01), std::out_of_range);
}

TEST(MarvolanDeviceTest, AFeedbackPipeCarriesNoAudio)
{
    const std::unique_ptr<MarvolanDevice> device = MakeDeviceFromDescriptors(AudioStreamingWithFeedback());
    EXPECT_EQ(device->AudioOutEndpoints(), std::vector<UCHAR>{0x03});
    EXPECT_TRUE(device->AudioInEndpoints().empty());
    std::vector<uint8_t> room(64, 0xAA);
    EXPECT_EQ(device->IsochronousIn(0x83, 1, room), 0u);  // a zero-length packet
}

TEST(MarvolanDeviceTest, HostileDescriptorSetsGiveWhatTheyDescribeAndNoMore)
{
    for (auto set : {TotalLengthBeyondData(), ZeroLengthDescriptorInside(), VendorInterfaceWithOnePipe(),
                     InterfaceWithoutEndpoints(), usbsim::DescriptorSet{{1, 2}, {9, 2, 0xFF, 0xFF}, {}},
                     usbsim::DescriptorSet{}}) {
        const std::unique_ptr<MarvolanDevice> device = MakeDeviceFromDescriptors(std::move(set));
        for (UCHAR a : device->MidiInEndpoints()) EXPECT_NE(a & 0x80, 0);
        for (UCHAR a : device->MidiOutEndpoints()) EXPECT_EQ(a & 0x80, 0);
    }
}

// SET_CUR sampling frequency, as the host sends it; the device's answer.
USBD_STATUS SendRate(MarvolanDevice& device, UCHAR endpoint, ULONG rate)
{
    usbsim::ControlRequest request;
    request.kind = usbsim::ControlRequest::Kind::Class;
    request.recipient = usbsim::ControlRequest::Recipient::Endpoint;
    request.request = 0x01;
    request.value = 0x0100;
    request.index = endpoint;
    std::vector<uint8_t> data = {uint8_t(rate), uint8_t(rate >> 8), uint8_t(rate >> 16)};
    ULONG transferred = 0;
    return device.Control(request, data, &transferred);
}

void SetRate(MarvolanDevice& device, UCHAR endpoint, ULONG rate)
{
    ASSERT_EQ(SendRate(device, endpoint, rate), USBD_STATUS_SUCCESS);
}

struct RateRequestCase {
    MarvolanDevice::RateRequests answer;
    bool renderStalls;
    bool captureStalls;
};

class RateRequestsTest : public testing::TestWithParam<RateRequestCase> {};

TEST_P(RateRequestsTest, StallOnTheDirectionsAsked)
{
    const std::unique_ptr<MarvolanDevice> device = MakeDevice(kClassCompliant);
    device->SetRateRequests(GetParam().answer);
    EXPECT_EQ(SendRate(*device, 0x03, 44100) == USBD_STATUS_STALL_PID, GetParam().renderStalls);
    EXPECT_EQ(SendRate(*device, 0x84, 44100) == USBD_STATUS_STALL_PID, GetParam().captureStalls);
    device->SetRateRequests(MarvolanDevice::RateRequests::Accepted);
    EXPECT_EQ(SendRate(*device, 0x03, 48000), USBD_STATUS_SUCCESS);
}

INSTANTIATE_TEST_SUITE_P(Answers, RateRequestsTest,
                         testing::Values(RateRequestCase{MarvolanDevice::RateRequests::Accepted, false, false},
                                         RateRequestCase{MarvolanDevice::RateRequests::StalledOnRender, true, false},
                                         RateRequestCase{MarvolanDevice::RateRequests::StalledOnCapture, false, true},
                                         RateRequestCase{MarvolanDevice::RateRequests::Stalled, true, true}));

TEST(MarvolanDeviceTest, AnAudioClass2SettingDeclaresItsChannelsInItsGeneralDescriptor)
{
    const std::unique_ptr<MarvolanDevice> device = MakeDeviceFromDescriptors(EightChannelSmallPackets());
    EXPECT_EQ(device->AudioOut(0x03).Channels(), 8u);
    EXPECT_EQ(device->AudioIn(0x84).Channels(), 2u);
}

ULONG FramesIn(MarvolanDevice& device, UCHAR endpoint, ULONG packets)
{
    const ULONG frameBytes = device.AudioIn(endpoint).BytesPerFrame();
    std::vector<uint8_t> room(306);
    ULONG frames = 0;
    for (ULONG f = 0; f < packets; ++f) frames += device.IsochronousIn(endpoint, f, room) / frameBytes;
    return frames;
}

TEST(MarvolanDeviceTest, CaptureRunsAtTheRateTheHostSet)
{
    const std::unique_ptr<MarvolanDevice> device = MakeDevice(kAudioMidi);
    EXPECT_EQ(device->Rate(0x82), MarvolanDevice::kDefaultRate);
    EXPECT_EQ(FramesIn(*device, 0x82, 10), 480u);
    SetRate(*device, 0x82, 44100);
    EXPECT_EQ(FramesIn(*device, 0x82, 1000), 44100u);
}

TEST(MarvolanDeviceTest, RenderPacketsAreRecordedThroughTheHook)
{
    const std::unique_ptr<MarvolanDevice> device = MakeDevice(kAudioMidi);
    const std::vector<uint8_t> packet(48 * 12, 0x11);
    device->IsochronousOut(0x01, 500, packet);
    device->IsochronousOut(0x7F, 500, packet);  // no such pipe: ignored
    const std::vector<AudioPacket> got = device->AudioOut(0x01).Packets();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].frame, 500u);
    EXPECT_EQ(got[0].bytes, packet);
}

TEST(MarvolanDeviceTest, LoopbackReturnsTheFirstTwoRenderChannelsDelayed)
{
    const std::unique_ptr<MarvolanDevice> device = MakeDevice(kAudioMidi);
    device->LoopBackAudio(4);
    std::vector<uint8_t> render(48 * 12);
    for (ULONG i = 0; i < 48 * 4; ++i) WriteSample24(&render[i * 3], int32_t(i));
    device->IsochronousOut(0x01, 20, render);

    std::vector<uint8_t> room(306);
    const ULONG length = device->IsochronousIn(0x82, 24, room);
    ASSERT_EQ(length, 48u * 6);
    const std::vector<int32_t> s = DecodeSamples24(std::span(room).first(length));
    for (ULONG f = 0; f < 48; ++f) {
        EXPECT_EQ(s[2 * f], int32_t(4 * f));
        EXPECT_EQ(s[2 * f + 1], int32_t(4 * f + 1));
    }
}

TEST(MarvolanDeviceTest, MidiEchoPairsTheOutAndInPipesOfEachInterface)
{
    const std::unique_ptr<MarvolanDevice> device = MakeDevice(kClassCompliant);
    device->EchoMidi(true);
    ASSERT_TRUE(device->BulkOut(0x05, std::vector<uint8_t>{0x09, 0x90, 0x3C, 0x64}));
    ASSERT_TRUE(device->BulkOut(0x07, std::vector<uint8_t>{0x00, 0x01, 0xF8}));

    std::vector<uint8_t> room(64);
    USBD_STATUS status = USBD_STATUS_SUCCESS;
    std::optional<ULONG> n = device->BulkIn(0x86, room, &status);
    ASSERT_TRUE(n.has_value());
    EXPECT_EQ(std::vector<uint8_t>(room.begin(), room.begin() + *n), (std::vector<uint8_t>{0x09, 0x90, 0x3C, 0x64}));
    n = device->BulkIn(0x88, room, &status);
    ASSERT_TRUE(n.has_value());
    EXPECT_EQ(std::vector<uint8_t>(room.begin(), room.begin() + *n), (std::vector<uint8_t>{0x02, 0x00, 0xF8}));

    device->EchoMidi(false);
    device->BulkOut(0x05, std::vector<uint8_t>{0x09, 0x90, 0x3C, 0x64});
    EXPECT_FALSE(device->BulkIn(0x86, room, &status).has_value());
}

TEST(MarvolanDeviceTest, AStalledMidiOutPipeHoldsTheTransferUntilItAnswersAgain)
{
    const std::unique_ptr<MarvolanDevice> device = MakeDevice(kRawMidiA);
    device->MidiOut(0x02).SetAnswering(false);
    const std::vector<uint8_t> noteOn = {0x90, 0x3C, 0x64};
    EXPECT_FALSE(device->BulkOut(0x02, noteOn));
    device->MidiOut(0x02).SetAnswering(true);  // not plugged: no bus to wake, and no harm
    EXPECT_TRUE(device->BulkOut(0x02, noteOn));
    EXPECT_EQ(device->MidiOut(0x02).Stream(), noteOn);
}

TEST(MarvolanDeviceTest, FailedMidiReadsCarryTheChosenStatus)
{
    const std::unique_ptr<MarvolanDevice> device = MakeDevice(kRunningStatusMidi);
    device->MidiIn(0x81).FailReads(USBD_STATUS_BUFFER_OVERRUN, 1);
    std::vector<uint8_t> room(8);
    USBD_STATUS status = USBD_STATUS_SUCCESS;
    EXPECT_FALSE(device->BulkIn(0x81, room, &status).has_value());
    EXPECT_EQ(status, USBD_STATUS_BUFFER_OVERRUN);
}

TEST(MarvolanDeviceTest, PipesWithoutBehaviourTakeWritesAndHaveNothingToRead)
{
    const std::unique_ptr<MarvolanDevice> device = MakeDevice(kRawMidiA);
    EXPECT_TRUE(device->BulkOut(0x0F, std::vector<uint8_t>{1}));
    std::vector<uint8_t> room(8);
    USBD_STATUS status = USBD_STATUS_SUCCESS;
    EXPECT_FALSE(device->BulkIn(0x8F, room, &status).has_value());
    EXPECT_EQ(status, USBD_STATUS_SUCCESS);
}

}  // namespace
}  // namespace hardware
