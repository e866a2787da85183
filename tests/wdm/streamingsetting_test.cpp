// Which alternate setting of an audio streaming interface becomes a stream:
// only one whose declared format and packet size the driver can carry, and
// what such a stream puts on the wire.
#include "devicetestbed.h"
#include "hardware/audiosink.h"
#include "hardware/classcompliant.h"
#include "streamclient.h"

#include <algorithm>
#include <functional>

namespace {

using hardware::Bytes;

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

constexpr UCHAR kRenderInterface = 1;
constexpr UCHAR kCaptureInterface = 2;

// The class-compliant device with its render interface's alternate setting
// 1 made of these descriptors after the interface descriptor.
usbsim::DescriptorSet WithRenderSetting(const Bytes& setting, uint8_t protocol = 0)
{
    using namespace hardware;
    const Bytes configuration = Configuration(3, {
        ClassCompliantAudioControl(),
        Interface(1, 0, 0, kClassAudio, kSubClassAudioStreaming, protocol),
        Interface(1, 1, 1, kClassAudio, kSubClassAudioStreaming, protocol),
        setting,
        ClassCompliantStreaming(2, 0x84, {}),
    });
    return {DeviceDescriptor(hardware::kVendorId, kClassCompliant), configuration, MarvolanStrings(u"Marvolan Format")};
}

Bytes StereoEndpoint(uint16_t packet = hardware::kClassCompliantPacket)
{
    return hardware::Join({hardware::AudioEndpoint(0x03, hardware::kIsochronousAdaptive, packet),
                           hardware::AudioStreamingEndpoint()});
}

Bytes Format(uint8_t channels, uint8_t subframe, uint8_t bits, std::initializer_list<uint32_t> rates)
{
    return hardware::AudioStreamingFormat(1, channels, subframe, bits, rates);
}

// The alternate setting the bus has selected for an interface.
UCHAR Selected(DeviceTestBed& bed, UCHAR interfaceNumber)
{
    return bed.Usb().CurrentAlternateSetting(interfaceNumber).value_or(0xFF);
}

struct UnstreamableCase {
    const char* name;
    std::function<usbsim::DescriptorSet()> set;
};

class UnstreamableSetting : public testing::TestWithParam<UnstreamableCase> {};

// Each of these was streamed as 2 channels of 3 bytes at 44.1 or 48 kHz
// whatever it declared; now it makes no stream and gives its bandwidth back,
// while the capture interface beside it streams as before.
TEST_P(UnstreamableSetting, AudioStreamedInAFormatTheDeviceNeverDeclared)
{
    DeviceTestBed bed(GetParam().set());
    ASSERT_EQ(bed.Start(), STATUS_SUCCESS);
    EXPECT_EQ(bed.Device().RenderStreamCount(), 0u);
    EXPECT_EQ(Selected(bed, kRenderInterface), 0);
    EXPECT_EQ(bed.Device().Usb().GetInterface(kRenderInterface)->Information()->AlternateSetting, 0);
    EXPECT_EQ(bed.Device().CaptureStreamCount(), 1u);
    EXPECT_EQ(Selected(bed, kCaptureInterface), 1);
}

// The general descriptor (7 bytes) then the type I format descriptor,
// whose bLength is made `length` and whose bytes end there.
Bytes FormatCutTo(uint8_t length)
{
    Bytes format = Format(2, 3, 24, {44100, 48000});
    format.resize(7 + length);
    format[7] = length;
    return format;
}

INSTANTIATE_TEST_SUITE_P(
    Formats, UnstreamableSetting,
    testing::Values(
        UnstreamableCase{"SixteenBit", [] { return WithRenderSetting(Format(2, 2, 16, {44100, 48000}) + StereoEndpoint()); }},
        UnstreamableCase{"FourByteSubframes", [] { return WithRenderSetting(Format(2, 4, 24, {44100, 48000}) + StereoEndpoint()); }},
        UnstreamableCase{"ThirtyTwoBitResolution", [] { return WithRenderSetting(Format(2, 3, 32, {44100, 48000}) + StereoEndpoint()); }},
        UnstreamableCase{"EightChannels", [] { return WithRenderSetting(Format(8, 3, 24, {44100, 48000}) + StereoEndpoint(49 * 24)); }},
        UnstreamableCase{"OneChannel", [] { return WithRenderSetting(Format(1, 3, 24, {44100, 48000}) + StereoEndpoint()); }},
        UnstreamableCase{"No44100", [] { return WithRenderSetting(Format(2, 3, 24, {48000, 96000}) + StereoEndpoint()); }},
        UnstreamableCase{"NotPcm", [] {
            Bytes format = Format(2, 3, 24, {44100, 48000});
            format[5] = 0x02;  // wFormatTag: ADPCM
            return WithRenderSetting(format + StereoEndpoint());
        }},
        // The type I descriptor's bLength leaves out its second rate: the
        // rate list must not be read past it.
        UnstreamableCase{"RateListCutShort", [] { return WithRenderSetting(FormatCutTo(11) + StereoEndpoint()); }},
        UnstreamableCase{"FormatShorterThanItsFields", [] { return WithRenderSetting(FormatCutTo(5) + StereoEndpoint()); }},
        UnstreamableCase{"NoFormat", [] { return WithRenderSetting(StereoEndpoint()); }},
        UnstreamableCase{"EightChannelClass2", [] { return hardware::EightChannelSmallPackets(); }}),
    [](const testing::TestParamInfo<UnstreamableCase>& info) { return std::string(info.param.name); });

TEST(StreamingSetting, TheTwentyFourBitSettingIsChosenOverAnEarlierSixteenBitOne)
{
    DeviceTestBed bed(hardware::SixteenThenTwentyFourBit());
    ASSERT_EQ(bed.Start(), STATUS_SUCCESS);
    ASSERT_EQ(bed.Device().RenderStreamCount(), 1u);
    ASSERT_EQ(bed.Device().CaptureStreamCount(), 1u);
    EXPECT_EQ(Selected(bed, kRenderInterface), 2);
    EXPECT_EQ(Selected(bed, kCaptureInterface), 2);
    EXPECT_EQ(bed.Device().RenderStream(0)->Endpoint()->Pipe().MaximumPacketSize, 288);
}

TEST(StreamingSetting, AContinuousRangeAndAClass2ClockBothCarryTheOfferedRates)
{
    Bytes format = hardware::AudioStreamingFormat(1, 2, 3, 24, {8000, 96000});
    format[7 + 7] = 0;  // bSamFreqType 0: the two values bound a continuous range
    DeviceTestBed continuous(WithRenderSetting(format + StereoEndpoint()));
    ASSERT_EQ(continuous.Start(), STATUS_SUCCESS);
    EXPECT_EQ(continuous.Device().RenderStreamCount(), 1u);

    DeviceTestBed class2(hardware::EightChannelSmallPackets());
    ASSERT_EQ(class2.Start(), STATUS_SUCCESS);
    ASSERT_EQ(class2.Device().CaptureStreamCount(), 1u);
    EXPECT_EQ(class2.Device().CaptureStream(0)->Channels(), 2u);
}

TEST(StreamingSetting, FourChannelRenderIsStreamedWithFourChannels)
{
    DeviceTestBed bed(WithRenderSetting(Format(4, 3, 24, {44100, 48000}) + StereoEndpoint(49 * 12)));
    ASSERT_EQ(bed.Start(), STATUS_SUCCESS);
    ASSERT_EQ(bed.Device().RenderStreamCount(), 1u);
    EXPECT_EQ(bed.Device().RenderStream(0)->Channels(), 4u);
}

class SmallRenderPacket : public testing::TestWithParam<uint16_t> {};

// A 48 kHz packet of 2 x 24-bit is 288 bytes; anything smaller cannot carry
// every rate the pins offer.
TEST_P(SmallRenderPacket, HeapOverflowFromASmallRenderPacketSize)
{
    DeviceTestBed bed(hardware::ClassCompliantWithRenderPacket(GetParam()));
    ASSERT_EQ(bed.Start(), STATUS_SUCCESS);
    EXPECT_EQ(bed.Device().RenderStreamCount(), 0u);
    EXPECT_EQ(Selected(bed, kRenderInterface), 0);
    EXPECT_EQ(bed.Device().CaptureStreamCount(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Sizes, SmallRenderPacket, testing::Values(0, 1, 100, 264, 275, 276, 287));

TEST(StreamingSetting, ThePacketSizeOfTheProductTableIsCheckedToo)
{
    DeviceTestBed small(hardware::AudioMidiWithRenderPacket(500));
    ASSERT_EQ(small.Start(), STATUS_SUCCESS);
    EXPECT_EQ(small.Device().RenderStreamCount(), 0u);
    EXPECT_EQ(small.Device().CaptureStreamCount(), 1u);
    EXPECT_EQ(small.Device().MidiEndpointCount(), 2u);

    DeviceTestBed exact(hardware::AudioMidiWithRenderPacket(576));
    ASSERT_EQ(exact.Start(), STATUS_SUCCESS);
    EXPECT_EQ(exact.Device().RenderStreamCount(), 1u);
}

// Whatever an endpoint declares, sizing a render transfer never writes past
// the slot of a packet: the stream below is made on an endpoint enumeration
// would refuse.
TEST(StreamingSetting, RenderSizingNeverPassesAPacketSlot)
{
    DeviceTestBed bed(hardware::ClassCompliantWithRenderPacket(100));
    ASSERT_EQ(bed.Configure(), STATUS_SUCCESS);
    UsbDevice& usb = bed.Device().Usb();
    ASSERT_EQ(usb.SelectInterface(kRenderInterface, 1), STATUS_SUCCESS);
    auto* stream = new AudioStream(usb.GetInterface(kRenderInterface)->Endpoint(0), 10, 2);
    ASSERT_NE(stream, nullptr);
    ASSERT_EQ(stream->SetSampleRate(48000), STATUS_SUCCESS);
    // A null client holds a slot but takes part in no service pass: it
    // only starts the stream, which sizes both transfers; the bus then
    // refuses packets beyond what the endpoint declared.
    const bool started = NT_SUCCESS(stream->AttachClient(nullptr));
    for (ULONG t = 0; t < 2; ++t) {
        const IsoTransfer& transfer = stream->Transfer(t);
        EXPECT_LE(transfer.length, stream->PacketStride() * transfer.packets);
        for (ULONG k = 0; k < transfer.packets; ++k)
            EXPECT_LE(transfer.urb->UrbIsochronousTransfer.IsoPacket[k].Length, stream->PacketStride());
    }
    bed.Bus().StartPacing(0);
    if (started) stream->DetachClient(nullptr);
    delete stream;
    bed.Bus().StopPacing();
}

// The device of the fault: alternate setting 1 is 16-bit stereo in
// 192-byte packets, 2 is 24-bit stereo in 288. A client at 44.1 kHz gets
// 24-bit stereo on the wire, within the endpoint's packets.
TEST(StreamingSetting, HeapOverflowFromARealDevicesSixteenBitSetting)
{
    DriverTestBed bed;
    ASSERT_EQ(bed.Plug(hardware::SixteenThenTwentyFourBit()), STATUS_SUCCESS);
    kmsim::KsClientHandle* filter = bed.OpenFilter();
    ASSERT_NE(filter, nullptr);
    StreamClient render(bed.Bus(), *filter, 0, PcmFormat(44100, 24, 2));
    ASSERT_EQ(render.Status(), STATUS_SUCCESS);
    ASSERT_EQ(render.Run(), STATUS_SUCCESS);
    bed.Bus().StepFrames(60);
    const auto packets = bed.Hardware().AudioOut(0x03).Packets();
    ASSERT_GE(packets.size(), 30u);
    for (const auto& packet : packets) {
        EXPECT_LE(packet.bytes.size(), 288u);
        EXPECT_EQ(packet.bytes.size() % 6, 0u);
    }
    EXPECT_EQ(bed.Usb().CurrentAlternateSetting(kRenderInterface), 2);
}

}  // namespace
