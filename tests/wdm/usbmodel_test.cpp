// The USB model the driver builds at post-start, and the request layer under
// it, driven through virtual devices on the emulated bus.
#include "devicetestbed.h"
#include "hardware/classcompliant.h"
#include "midiclient.h"

#include <algorithm>

namespace {

size_t CountRequests(usbsim::BusDevice& usb, USHORT function, UCHAR interfaceNumber, UCHAR alternateSetting)
{
    auto log = usb.Log();
    return std::count_if(log.begin(), log.end(), [&](const usbsim::UrbRecord& r) {
        return r.function == function && r.interfaceNumber == interfaceNumber && r.alternateSetting == alternateSetting;
    });
}

TEST(UsbModel, ConfigureSelectsEveryInterfaceAndPairsItsEndpoints)
{
    DeviceTestBed bed(hardware::kAudioMidi);
    ASSERT_EQ(bed.Configure(), STATUS_SUCCESS);
    UsbDevice& usb = bed.Device().Usb();
    EXPECT_EQ(usb.DeviceDescriptor().idProduct, hardware::kAudioMidi);
    ASSERT_EQ(usb.InterfaceCount(), 2u);
    EXPECT_EQ(usb.GetInterface(2), nullptr);

    UsbInterface* midi = usb.GetInterface(1);
    ASSERT_NE(midi, nullptr);
    ASSERT_EQ(midi->PipeCount(), 2u);
    for (ULONG p = 0; p < 2; ++p) {
        UsbEndpoint* endpoint = midi->Endpoint(p);
        ASSERT_NE(endpoint, nullptr);
        ASSERT_NE(endpoint->Descriptor(), nullptr);
        EXPECT_EQ(endpoint->Descriptor()->bEndpointAddress, endpoint->Address());
    }
    // Index 1 and up are selected again on alternate setting 0; the bus
    // interface is referenced once.
    EXPECT_EQ(CountRequests(bed.Usb(), URB_FUNCTION_SELECT_INTERFACE, 1, 0), 1u);
    EXPECT_EQ(bed.Usb().InterfaceReferences(), 1);
}

TEST(UsbModel, RemovalDeconfiguresAndReleasesTheBusInterface)
{
    DeviceTestBed bed(hardware::kAudioMidi);
    ASSERT_EQ(bed.Start(), STATUS_SUCCESS);
    bed.Device().Remove();
    EXPECT_EQ(bed.Usb().InterfaceReferences(), 0);
    EXPECT_FALSE(bed.Usb().Configured());
}

TEST(UsbModel, InterfacesAreAddressedByIndexFromTheFirstNumber)
{
    DeviceTestBed bed(hardware::InterfacesNumberedFromTwo());
    ASSERT_EQ(bed.Start(), STATUS_SUCCESS);
    EXPECT_EQ(bed.Device().Usb().GetInterface(0)->Information()->InterfaceNumber, 2);
    EXPECT_EQ(CountRequests(bed.Usb(), URB_FUNCTION_SELECT_INTERFACE, 3, 0), 1u);
    EXPECT_EQ(CountRequests(bed.Usb(), URB_FUNCTION_SELECT_INTERFACE, 4, 0), 1u);
    // The MIDI streaming pipes at index 1 and the vendor pipes at index 2.
    EXPECT_EQ(bed.Device().MidiEndpointCount(), 4u);
}

TEST(UsbModel, AConfigurationWithoutAlternateSettingZeroFailsBeforeAnySelection)
{
    DeviceTestBed bed(hardware::NoAlternateSettingZero());
    EXPECT_EQ(bed.Configure(), STATUS_INTERNAL_ERROR);
    EXPECT_EQ(bed.Usb().RequestCount(URB_FUNCTION_SELECT_CONFIGURATION), 0u);
    EXPECT_EQ(bed.Device().Usb().LowerDevice(), nullptr);
    EXPECT_EQ(bed.Device().Usb().ConfigurationDescriptor(), nullptr);
}

// Interfaces 0, 1, 2, 4, 6, 7: the device was refused whole; each interface
// that exists is configured and addressed by its place in the list.
TEST(UsbModel, AGapInTheInterfaceNumbersLosesTheWholeDevice)
{
    DeviceTestBed bed(hardware::InterfacesNumberedWithGaps());
    ASSERT_EQ(bed.Start(), STATUS_SUCCESS);
    UsbDevice& usb = bed.Device().Usb();
    ASSERT_EQ(usb.InterfaceCount(), 6u);
    const UCHAR numbers[] = {0, 1, 2, 4, 6, 7};
    for (ULONG i = 0; i < 6; ++i) EXPECT_EQ(usb.GetInterface(i)->Information()->InterfaceNumber, numbers[i]);
    EXPECT_EQ(CountRequests(bed.Usb(), URB_FUNCTION_SELECT_INTERFACE, 7, 0), 1u);
    EXPECT_EQ(bed.Device().RenderStreamCount(), 1u);
    EXPECT_EQ(bed.Device().CaptureStreamCount(), 1u);
    // Class MIDI on 4 and 7, framed MIDI on 6: a pin pair per port.
    EXPECT_EQ(bed.Device().MidiEndpointCount(), 6u);
    EXPECT_EQ(bed.Filter().PinDescriptorsCount, 16u);
}

TEST(UsbModel, MIDIThroughAnInterfaceAfterAGapReachesTheWire)
{
    DriverTestBed bed;
    ASSERT_EQ(bed.Plug(hardware::InterfacesNumberedWithGaps()), STATUS_SUCCESS);
    kmsim::KsClientHandle* filter = bed.OpenFilter();
    ASSERT_NE(filter, nullptr);
    // Pins 0-3 audio, 4-7 interface 4, 8-11 interface 6, 12-15 interface 7.
    MidiClient out(*filter, 12);
    ASSERT_EQ(out.Status(), STATUS_SUCCESS);
    out.Write({0x90, 0x3C, 0x64});
    ASSERT_TRUE(out.Drain(bed));
    bed.Bus().Flush();
    EXPECT_EQ(bed.Hardware().MidiOut(0x09).Stream(), (std::vector<uint8_t>{0x90, 0x3C, 0x64}));
}

TEST(UsbModel, ANumberListedTwiceIsConfiguredOnce)
{
    using namespace hardware;
    const Bytes configuration = Configuration(3, {
        ClassCompliantVendor(0),
        ClassCompliantVendor(0),  // the same number again
        Interface(2, 0, 0, kClassVendor, 0),
    });
    DeviceTestBed bed(usbsim::DescriptorSet{DeviceDescriptor(hardware::kVendorId, kClassCompliant), configuration, {}});
    ASSERT_EQ(bed.Configure(), STATUS_SUCCESS);
    ASSERT_EQ(bed.Device().Usb().InterfaceCount(), 2u);
    EXPECT_EQ(bed.Device().Usb().GetInterface(1)->Information()->InterfaceNumber, 2);
}

TEST(UsbModel, AConfigurationHeaderOfAnotherTypeIsADataError)
{
    // Its "total length" would be an interface number and alternate setting.
    DeviceTestBed bed(hardware::InterfaceInPlaceOfConfiguration());
    EXPECT_EQ(bed.Configure(), STATUS_DEVICE_DATA_ERROR);
    EXPECT_EQ(bed.Usb().RequestCount(URB_FUNCTION_SELECT_CONFIGURATION), 0u);
    EXPECT_EQ(bed.Device().Usb().ConfigurationDescriptor(), nullptr);
}

TEST(UsbModel, InterfacesBeyondEightAreLeftOut)
{
    DeviceTestBed bed(hardware::TenInterfaces());
    ASSERT_EQ(bed.Configure(), STATUS_SUCCESS);
    EXPECT_EQ(bed.Device().Usb().InterfaceCount(), 8u);
}

TEST(UsbModel, AFailedConfigurationReadLeavesTheDeviceUnconfigured)
{
    DeviceTestBed bed(hardware::kAudioMidi);
    // The device descriptor is the first read, the configuration the second.
    bed.Usb().InjectFault({.action = usbsim::RequestFault::Action::Fail,
                           .nth = 2,
                           .function = URB_FUNCTION_GET_DESCRIPTOR_FROM_DEVICE,
                           .status = STATUS_UNSUCCESSFUL});
    EXPECT_EQ(bed.Configure(), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(bed.Device().Usb().ConfigurationDescriptor(), nullptr);
    EXPECT_EQ(bed.Device().Usb().LowerDevice(), nullptr);
}

TEST(UsbModel, AnInterfaceWithoutEndpointsSelectsWithTheHeaderOnly)
{
    DeviceTestBed bed(hardware::InterfaceWithoutEndpoints());
    ASSERT_EQ(bed.Configure(), STATUS_SUCCESS);
    bed.Usb().ClearLog();
    ASSERT_EQ(bed.Device().Usb().SelectInterface(0, 0), STATUS_SUCCESS);
    auto log = bed.Usb().Log();
    ASSERT_EQ(log.size(), 1u);
    const size_t expected = sizeof(_URB_SELECT_INTERFACE) - sizeof(USBD_PIPE_INFORMATION);
    EXPECT_EQ(log[0].length, expected);
    if (sizeof(void*) == 4) {
        EXPECT_EQ(log[0].length, 36u);
    }
}

TEST(UsbModel, SelectingAMissingAlternateSettingIsAnInvalidParameter)
{
    DeviceTestBed bed(hardware::kAudioMidi);
    ASSERT_EQ(bed.Configure(), STATUS_SUCCESS);
    EXPECT_EQ(bed.Device().Usb().SelectInterface(1, 7), STATUS_INVALID_PARAMETER);
}

struct StringCase {
    size_t descriptorBytes;
    NTSTATUS status;
};

class ProductString : public testing::TestWithParam<StringCase> {};

TEST_P(ProductString, KeepsThirtyOneCharactersAndAZero)
{
    DeviceTestBed bed(hardware::ProductStringOfLength(GetParam().descriptorBytes));
    ASSERT_EQ(bed.Configure(), STATUS_SUCCESS);
    WCHAR text[32];
    NTSTATUS status = bed.Device().Usb().GetStringDescriptor(bed.Device().Usb().DeviceDescriptor().iProduct, text,
                                                             sizeof(text), 0x0409);
    EXPECT_EQ(status, GetParam().status);
    EXPECT_NE(text[30], 0);
    EXPECT_EQ(text[31], 0);
}

INSTANTIATE_TEST_SUITE_P(Lengths, ProductString,
                         testing::Values(StringCase{64, STATUS_SUCCESS}, StringCase{70, STATUS_BUFFER_OVERFLOW}));

TEST(UsbRequests, ASynchronousFailureIsReturnedAsTheStackGaveIt)
{
    DeviceTestBed bed(hardware::kAudioMidi);
    ASSERT_EQ(bed.Configure(), STATUS_SUCCESS);
    bed.Usb().InjectFault({.action = usbsim::RequestFault::Action::Fail,
                           .status = STATUS_UNSUCCESSFUL,
                           .usbdStatus = USBD_STATUS_STALL_PID});
    USB_DEVICE_DESCRIPTOR descriptor;
    EXPECT_EQ(bed.Device().Usb().GetDescriptor(USB_DEVICE_DESCRIPTOR_TYPE, 0, 0, &descriptor, sizeof(descriptor)),
              STATUS_UNSUCCESSFUL);
}

TEST(UsbRequests, AFailureAfterPendingReportsTheUsbStatus)
{
    DeviceTestBed bed(hardware::kAudioMidi);
    ASSERT_EQ(bed.Configure(), STATUS_SUCCESS);
    bed.Usb().InjectFault({.action = usbsim::RequestFault::Action::FailAfterPending,
                           .status = STATUS_UNSUCCESSFUL,
                           .usbdStatus = USBD_STATUS_STALL_PID});
    USB_DEVICE_DESCRIPTOR descriptor;
    EXPECT_EQ(bed.Device().Usb().GetDescriptor(USB_DEVICE_DESCRIPTOR_TYPE, 0, 0, &descriptor, sizeof(descriptor)),
              NTSTATUS(USBD_STATUS_STALL_PID));
}

TEST(UsbRequests, PendingRequestsCompleteFromTheBus)
{
    DeviceTestBed bed(hardware::kAudioMidi);
    bed.Usb().SetCompletionMode(usbsim::CompletionMode::Pending);
    EXPECT_EQ(bed.Start(), STATUS_SUCCESS);
    EXPECT_EQ(bed.Device().RenderStreamCount(), 1u);
}

TEST(UsbRequests, ARequestThatNeverCompletesIsCancelledAfterOneSecond)
{
    DeviceTestBed bed(hardware::kAudioMidi);
    ASSERT_EQ(bed.Configure(), STATUS_SUCCESS);
    kmsim::SetTimeoutScale(0.01);
    bed.Usb().InjectFault({.action = usbsim::RequestFault::Action::NeverComplete});
    USB_DEVICE_DESCRIPTOR descriptor;
    EXPECT_EQ(bed.Device().Usb().GetDescriptor(USB_DEVICE_DESCRIPTOR_TYPE, 0, 0, &descriptor, sizeof(descriptor)),
              STATUS_TIMEOUT);
    // The cancelled request has completed before the call returned.
    EXPECT_EQ(bed.Bus().PendingCount(bed.Usb()), 0u);
}

TEST(UsbRequests, SelectInterfaceTriesThreeTimes)
{
    DeviceTestBed bed(hardware::kAudioMidi);
    ASSERT_EQ(bed.Configure(), STATUS_SUCCESS);
    bed.Usb().RejectAlternateSetting(0, 1, 2);
    EXPECT_EQ(bed.Device().Usb().SelectInterface(0, 1), STATUS_SUCCESS);
    EXPECT_EQ(CountRequests(bed.Usb(), URB_FUNCTION_SELECT_INTERFACE, 0, 1), 3u);
    EXPECT_EQ(bed.Device().Usb().GetInterface(0)->PipeCount(), 2u);
}

}  // namespace
