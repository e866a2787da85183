// What Enumerate creates for the device's interfaces: streams, MIDI
// endpoints, their ports, and which ports are hidden.
#include "devicetestbed.h"

#include "midiendpointvariants.h"

#include <algorithm>
#include <vector>

namespace {

bool PinIsHidden(DeviceTestBed& bed, ULONG pin)
{
    return IsEqualGUID(bed.Filter().PinDescriptors[pin].PinDescriptor.DataRanges[0]->SubFormat,
                       KSDATAFORMAT_SUBTYPE_HiddenMidi);
}

TEST(Enumerate, EachMidiPipeReadsItsOwnJackCount)
{
    DeviceTestBed bed(hardware::MidiStreamingOneAndThreeJacks());
    ASSERT_EQ(bed.Start(), STATUS_SUCCESS);
    UsbAudioDevice& device = bed.Device();
    ASSERT_GE(device.MidiEndpointCount(), 2u);
    EXPECT_EQ(device.GetMidiEndpoint(0)->PortCount(), 1u);
    EXPECT_EQ(device.GetMidiEndpoint(1)->PortCount(), 3u);
    for (ULONG cable = 0; cable < 3; ++cable) EXPECT_EQ(device.GetMidiEndpoint(1)->Port(cable)->Cable(), cable);
}

struct KinetraCase {
    ULONG deviceValue;  // DontHideKinetraPorts in the device key
    ULONG driverValue;  // the driver-wide value from the service parameters
    bool hidden;
};

class KinetraPorts : public testing::TestWithParam<KinetraCase> {};

TEST_P(KinetraPorts, SitOnCableTwoAndAreHiddenUnlessAskedOtherwise)
{
    DeviceTestBed bed(hardware::ClassMidiWithoutMidiStreaming());
    kmsim::SetDword(DeviceTestBed::kDriverKey, "DontHideKinetraPorts", GetParam().deviceValue);
    DontHideKinetraPorts = GetParam().driverValue;
    ASSERT_EQ(bed.Start(), STATUS_SUCCESS);

    UsbAudioDevice& device = bed.Device();
    ASSERT_EQ(device.MidiEndpointCount(), 2u);
    for (ULONG i = 0; i < 2; ++i) {
        MidiEndpoint* endpoint = device.GetMidiEndpoint(i);
        ASSERT_EQ(endpoint->PortCount(), 1u) << "no jacks declared: only the extra port";
        EXPECT_EQ(endpoint->Port(0)->Cable(), 2u);
        EXPECT_EQ(static_cast<ClassMidiEndpointEx*>(endpoint)->PortForCable(2), endpoint->Port(0));
    }
    ASSERT_EQ(bed.Filter().PinDescriptorsCount, 4u);
    EXPECT_EQ(PinIsHidden(bed, 0), GetParam().hidden);
    EXPECT_EQ(PinIsHidden(bed, 2), GetParam().hidden);
}

INSTANTIATE_TEST_SUITE_P(Settings, KinetraPorts,
                         testing::Values(KinetraCase{0, 0, true}, KinetraCase{1, 0, false},
                                         KinetraCase{0, 1, false}));

TEST(Enumerate, AStreamingInterfaceWithAFeedbackPipeMakesNoStream)
{
    DeviceTestBed bed(hardware::AudioStreamingWithFeedback());
    ASSERT_EQ(bed.Start(), STATUS_SUCCESS);
    EXPECT_EQ(bed.Device().RenderStreamCount(), 0u);
    // Alternate setting 1 would hold bus bandwidth for nothing.
    EXPECT_EQ(bed.Usb().CurrentAlternateSetting(1), 0);
}

TEST(Enumerate, NoBandwidthForTheAudioInterfaceFailsWithNothingRegistered)
{
    DeviceTestBed bed(hardware::kAudioMidi);
    bed.Usb().RejectAlternateSetting(0, 1);
    ASSERT_EQ(bed.Configure(), STATUS_SUCCESS);
    EXPECT_EQ(bed.Device().Enumerate(), NTSTATUS(USBD_STATUS_NO_BANDWIDTH));
    auto log = bed.Usb().Log();
    EXPECT_EQ(std::count_if(log.begin(), log.end(),
                            [](const usbsim::UrbRecord& r) {
                                return r.function == URB_FUNCTION_SELECT_INTERFACE && r.interfaceNumber == 0 &&
                                       r.alternateSetting == 1;
                            }),
              3);
    EXPECT_EQ(bed.Device().RenderStreamCount() + bed.Device().CaptureStreamCount(), 0u);
    EXPECT_EQ(bed.Device().MidiEndpointCount(), 0u);
    EXPECT_EQ(bed.Filter().PinDescriptorsCount, 0u);
}

TEST(Enumerate, AnotherVendorIsNotSupported)
{
    DeviceTestBed bed(hardware::WrongVendor());
    EXPECT_EQ(bed.Start(), STATUS_NOT_SUPPORTED);
}

TEST(Enumerate, ADeviceMatchingNoRuleSucceedsWithEmptyTables)
{
    DeviceTestBed bed(hardware::VendorInterfaceWithOnePipe());
    ASSERT_EQ(bed.Start(), STATUS_SUCCESS);
    EXPECT_EQ(bed.Device().MidiEndpointCount(), 0u);
    EXPECT_EQ(bed.Filter().PinDescriptorsCount, 0u);
}

TEST(Enumerate, StreamsGetTheDeviceRateOnTheirEndpoints)
{
    DeviceTestBed bed(hardware::kAudioMidi);
    ASSERT_EQ(bed.Start(), STATUS_SUCCESS);
    UsbAudioDevice& device = bed.Device();
    ASSERT_EQ(device.RenderStreamCount(), 1u);
    ASSERT_EQ(device.CaptureStreamCount(), 1u);
    EXPECT_EQ(device.RenderStream(0)->Channels(), 4u);
    EXPECT_EQ(device.CaptureStream(0)->Channels(), 2u);
    for (AudioStream* stream : {device.RenderStream(0), device.CaptureStream(0)}) {
        EXPECT_EQ(stream->SampleRate(), 48000u);
        EXPECT_EQ(bed.Usb().SamplingFrequency(stream->Endpoint()->Address()), 48000u);
        EXPECT_EQ(stream->PacketStride(), stream->Endpoint()->Pipe().MaximumPacketSize + 2 * stream->BytesPerFrame());
    }
}

TEST(Enumerate, ARegisteredRateIsNotSentAgain)
{
    DeviceTestBed bed(hardware::kAudioMidi);
    ASSERT_EQ(bed.Start(), STATUS_SUCCESS);
    const ULONG before = bed.Usb().RequestCount(URB_FUNCTION_CLASS_ENDPOINT);
    EXPECT_EQ(bed.Device().RenderStream(0)->SetSampleRate(48000), STATUS_SUCCESS);
    EXPECT_EQ(bed.Usb().RequestCount(URB_FUNCTION_CLASS_ENDPOINT), before);
}

// Hostile layouts must not crash, leak or trip the verifier; what they
// yield is whatever the readable part of the descriptors allows.
class OddDescriptors : public testing::TestWithParam<usbsim::DescriptorSet (*)()> {};

TEST_P(OddDescriptors, AreHandledSafely)
{
    DeviceTestBed bed(GetParam()());
    bed.Start();
}

INSTANTIATE_TEST_SUITE_P(Sets, OddDescriptors,
                         testing::Values(hardware::TotalLengthBeyondData, hardware::ZeroLengthDescriptorInside,
                                         hardware::TenInterfaces, hardware::NonContiguousInterfaces,
                                         hardware::NoAlternateSettingZero));

}  // namespace
