// Each URB function through IofCallDriver on a plugged device, with the bus
// completing inside the call and with it completing from its worker.
#include "hardware/devices.h"
#include "urbclient.h"

#include <gtest/gtest.h>

namespace {

using usbsim::CompletionMode;
using namespace usbtest;

class UrbFunctionTest : public testing::TestWithParam<CompletionMode> {
protected:
    usbsim::BusDevice& Plug(uint16_t productId = hardware::kClassCompliant)
    {
        return PlugSet(hardware::DescriptorsFor(productId));
    }
    usbsim::BusDevice& PlugSet(usbsim::DescriptorSet set)
    {
        usbsim::BusDevice& device = bus.Plug(hardware::MakeDeviceFromDescriptors(std::move(set)));
        device.SetCompletionMode(GetParam());
        return device;
    }

    usbsim::Bus bus;
};

TEST_P(UrbFunctionTest, ReturnsPendingOnlyInPendingMode)
{
    usbsim::BusDevice& device = Plug();
    USB_DEVICE_DESCRIPTOR d{};
    URB urb;
    BuildGetDescriptor(&urb, USB_DEVICE_DESCRIPTOR_TYPE, 0, 0, &d, sizeof d);
    Submission s(device.Pdo(), &urb);
    EXPECT_EQ(s.Returned(), GetParam() == CompletionMode::Pending ? STATUS_PENDING : STATUS_SUCCESS);
    EXPECT_EQ(s.Wait(), STATUS_SUCCESS);
    EXPECT_EQ(urb.UrbHeader.Status, USBD_STATUS_SUCCESS);
}

TEST_P(UrbFunctionTest, ServesTheDeviceDescriptor)
{
    usbsim::BusDevice& device = Plug(hardware::kClassMidiSmall);
    USB_DEVICE_DESCRIPTOR d{};
    URB urb;
    BuildGetDescriptor(&urb, USB_DEVICE_DESCRIPTOR_TYPE, 0, 0, &d, sizeof d);
    ASSERT_EQ(Submit(device.Pdo(), &urb), STATUS_SUCCESS);
    EXPECT_EQ(urb.UrbControlDescriptorRequest.TransferBufferLength, 18u);
    EXPECT_EQ(d.idVendor, MRV_VENDOR_ID);
    EXPECT_EQ(d.idProduct, hardware::kClassMidiSmall);
    EXPECT_EQ(device.HardwareId(), "USB\\VID_3A1E&PID_000B");
}

TEST_P(UrbFunctionTest, ServesTheFirstBytesOfTheConfigurationThenAllOfIt)
{
    usbsim::BusDevice& device = Plug();
    const hardware::Bytes expected = hardware::ClassCompliantDescriptors(hardware::kClassCompliant).configuration;
    uint8_t header[9] = {};
    URB urb;
    BuildGetDescriptor(&urb, USB_CONFIGURATION_DESCRIPTOR_TYPE, 0, 0, header, sizeof header);
    ASSERT_EQ(Submit(device.Pdo(), &urb), STATUS_SUCCESS);
    EXPECT_EQ(urb.UrbControlDescriptorRequest.TransferBufferLength, 9u);
    EXPECT_TRUE(std::equal(header, header + 9, expected.begin()));

    // Asking for more than there is returns what there is.
    std::vector<uint8_t> big(4096);
    BuildGetDescriptor(&urb, USB_CONFIGURATION_DESCRIPTOR_TYPE, 0, 0, big.data(), ULONG(big.size()));
    ASSERT_EQ(Submit(device.Pdo(), &urb), STATUS_SUCCESS);
    ASSERT_EQ(urb.UrbControlDescriptorRequest.TransferBufferLength, expected.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), big.begin()));
}

TEST_P(UrbFunctionTest, ServesStringsByIndexAndStallsOnAMissingOne)
{
    usbsim::BusDevice& device = Plug(hardware::kAudioMidi);
    uint8_t buffer[256] = {};
    URB urb;
    BuildGetDescriptor(&urb, USB_STRING_DESCRIPTOR_TYPE, 0, 0, buffer, sizeof buffer);
    ASSERT_EQ(Submit(device.Pdo(), &urb), STATUS_SUCCESS);
    EXPECT_EQ(urb.UrbControlDescriptorRequest.TransferBufferLength, 4u);
    EXPECT_EQ(buffer[2] | buffer[3] << 8, 0x0409);

    BuildGetDescriptor(&urb, USB_STRING_DESCRIPTOR_TYPE, hardware::kProductString, 0x0409, buffer, sizeof buffer);
    ASSERT_EQ(Submit(device.Pdo(), &urb), STATUS_SUCCESS);
    const std::u16string text(reinterpret_cast<const char16_t*>(buffer + 2), (buffer[0] - 2) / 2);
    EXPECT_EQ(text, u"Marvolan Fluxa 4");

    BuildGetDescriptor(&urb, USB_STRING_DESCRIPTOR_TYPE, 7, 0x0409, buffer, sizeof buffer);
    EXPECT_FALSE(NT_SUCCESS(Submit(device.Pdo(), &urb)));
    EXPECT_EQ(urb.UrbHeader.Status, USBD_STATUS_STALL_PID);
}

TEST_P(UrbFunctionTest, SelectConfigurationFillsEveryInterfaceRecord)
{
    usbsim::BusDevice& device = Plug();
    Configuration config(device.Pdo());
    ASSERT_EQ(config.Status(), STATUS_SUCCESS);
    EXPECT_NE(config.Handle(), nullptr);
    EXPECT_TRUE(device.Configured());

    const USBD_INTERFACE_INFORMATION* midi = config.Interface(3);
    ASSERT_NE(midi, nullptr);
    EXPECT_EQ(midi->Class, 1);
    EXPECT_EQ(midi->SubClass, 3);
    EXPECT_NE(midi->InterfaceHandle, nullptr);
    ASSERT_EQ(midi->NumberOfPipes, 2u);
    EXPECT_EQ(midi->Pipes[0].EndpointAddress, 0x05);
    EXPECT_EQ(midi->Pipes[0].PipeType, UsbdPipeTypeBulk);
    EXPECT_EQ(midi->Pipes[0].MaximumPacketSize, 64);
    EXPECT_EQ(midi->Pipes[1].EndpointAddress, 0x86);
    EXPECT_NE(midi->Pipes[0].PipeHandle, nullptr);
    EXPECT_NE(midi->Pipes[0].PipeHandle, midi->Pipes[1].PipeHandle);

    const USBD_INTERFACE_INFORMATION* streaming = config.Interface(1);
    ASSERT_NE(streaming, nullptr);
    EXPECT_EQ(streaming->NumberOfPipes, 0u);
    EXPECT_EQ(device.CurrentAlternateSetting(1), 0);
}

TEST_P(UrbFunctionTest, SelectInterfaceSwitchesTheAlternateSettingAndItsPipes)
{
    usbsim::BusDevice& device = Plug(hardware::kAudioMidi);
    Configuration config(device.Pdo());
    ASSERT_EQ(config.Status(), STATUS_SUCCESS);

    UrbBuffer select = SelectInterfaceUrb(config.Handle(), 0, 1, 2);
    ASSERT_EQ(Submit(device.Pdo(), select.Get()), STATUS_SUCCESS);
    const USBD_INTERFACE_INFORMATION& info = select->UrbSelectInterface.Interface;
    EXPECT_EQ(device.CurrentAlternateSetting(0), 1);
    ASSERT_EQ(info.NumberOfPipes, 2u);
    EXPECT_EQ(info.Pipes[0].EndpointAddress, 0x01);
    EXPECT_EQ(info.Pipes[0].PipeType, UsbdPipeTypeIsochronous);
    EXPECT_EQ(info.Pipes[0].MaximumPacketSize, 588);
    EXPECT_EQ(info.Pipes[1].EndpointAddress, 0x82);
    EXPECT_EQ(info.Pipes[1].MaximumPacketSize, 294);
    EXPECT_EQ(info.Pipes[1].Interval, 1);
}

TEST_P(UrbFunctionTest, SelectInterfaceOfAnInterfaceWithoutEndpointsUsesTheShortRequest)
{
    usbsim::BusDevice& device = PlugSet(hardware::InterfaceWithoutEndpoints());
    Configuration config(device.Pdo());
    ASSERT_EQ(config.Status(), STATUS_SUCCESS);
    UrbBuffer select = SelectInterfaceUrb(config.Handle(), 0, 0, 0);
    EXPECT_EQ(select->UrbHeader.Length, sizeof(_URB_SELECT_INTERFACE) - sizeof(USBD_PIPE_INFORMATION));
    EXPECT_EQ(Submit(device.Pdo(), select.Get()), STATUS_SUCCESS);
    EXPECT_EQ(select->UrbSelectInterface.Interface.NumberOfPipes, 0u);
}

TEST_P(UrbFunctionTest, SelectInterfaceOfAMissingSettingFails)
{
    usbsim::BusDevice& device = Plug(hardware::kAudioMidi);
    Configuration config(device.Pdo());
    UrbBuffer select = SelectInterfaceUrb(config.Handle(), 0, 5, 1);
    EXPECT_EQ(Submit(device.Pdo(), select.Get()), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(select->UrbHeader.Status, USBD_STATUS_INTERFACE_NOT_FOUND);
    EXPECT_EQ(device.CurrentAlternateSetting(0), 0);
}

TEST_P(UrbFunctionTest, NullConfigurationDeconfigures)
{
    usbsim::BusDevice& device = Plug();
    Configuration config(device.Pdo());
    ASSERT_TRUE(device.Configured());
    URB urb{};
    urb.UrbHeader.Length = sizeof(_URB_SELECT_CONFIGURATION);
    urb.UrbHeader.Function = URB_FUNCTION_SELECT_CONFIGURATION;
    ASSERT_EQ(Submit(device.Pdo(), &urb), STATUS_SUCCESS);
    EXPECT_FALSE(device.Configured());
    EXPECT_EQ(device.CurrentAlternateSetting(0), std::nullopt);
    EXPECT_TRUE(device.Log().back().nullConfiguration);
}

TEST_P(UrbFunctionTest, AbortPipeEndsTheTransfersWaitingOnIt)
{
    usbsim::BusDevice& device = Plug(hardware::kRawMidiA);
    Configuration config(device.Pdo());
    const USBD_PIPE_HANDLE in = config.Pipe(0, 1).PipeHandle;

    uint8_t data[64];
    URB read;
    BuildBulkTransfer(&read, in, data, sizeof data, true);
    Submission transfer(device.Pdo(), &read);
    ASSERT_EQ(transfer.Returned(), STATUS_PENDING);

    URB abort;
    BuildPipeRequest(&abort, URB_FUNCTION_ABORT_PIPE, in);
    EXPECT_EQ(Submit(device.Pdo(), &abort), STATUS_SUCCESS);
    EXPECT_EQ(transfer.Wait(), STATUS_CANCELLED);
    EXPECT_EQ(read.UrbHeader.Status, USBD_STATUS_CANCELED);
    EXPECT_EQ(device.Log().back().endpointAddress, 0x81);
}

TEST_P(UrbFunctionTest, ResetPipeSucceedsOnAPipeOfTheConfiguration)
{
    usbsim::BusDevice& device = Plug(hardware::kRawMidiA);
    Configuration config(device.Pdo());
    URB reset;
    BuildPipeRequest(&reset, URB_FUNCTION_SYNC_RESET_PIPE_AND_CLEAR_STALL, config.Pipe(0, 0).PipeHandle);
    EXPECT_EQ(Submit(device.Pdo(), &reset), STATUS_SUCCESS);
    EXPECT_EQ(device.RequestCount(URB_FUNCTION_SYNC_RESET_PIPE_AND_CLEAR_STALL), 1u);
}

TEST_P(UrbFunctionTest, SamplingFrequencyRequestIsRecordedPerEndpoint)
{
    usbsim::BusDevice& device = Plug();
    Configuration config(device.Pdo());
    ULONG rate = 44100;
    URB urb;
    BuildClassEndpoint(&urb, 0x03, 0x01, 0x0100, &rate, 3, false);
    ASSERT_EQ(Submit(device.Pdo(), &urb), STATUS_SUCCESS);
    EXPECT_EQ(device.SamplingFrequency(0x03), 44100u);
    EXPECT_EQ(device.SamplingFrequency(0x84), std::nullopt);
    const std::vector<usbsim::UrbRecord> log = device.Log();
    const usbsim::UrbRecord& record = log.back();
    EXPECT_EQ(record.function, URB_FUNCTION_CLASS_ENDPOINT);
    EXPECT_EQ(record.index, 0x03);
    EXPECT_EQ(record.payload, (std::vector<uint8_t>{0x44, 0xAC, 0x00}));
}

TEST_P(UrbFunctionTest, ClassRequestTheDeviceDoesNotKnowStalls)
{
    usbsim::BusDevice& device = Plug();
    Configuration config(device.Pdo());
    uint8_t data[2] = {};
    URB urb;
    BuildClassEndpoint(&urb, 0x03, 0x01, 0x0200, data, sizeof data, false);
    EXPECT_EQ(Submit(device.Pdo(), &urb), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(urb.UrbHeader.Status, USBD_STATUS_STALL_PID);
}

TEST_P(UrbFunctionTest, UnknownFunctionFails)
{
    usbsim::BusDevice& device = Plug();
    URB urb{};
    urb.UrbHeader.Length = sizeof(_URB_HEADER);
    urb.UrbHeader.Function = 0x0077;
    EXPECT_EQ(Submit(device.Pdo(), &urb), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(urb.UrbHeader.Status, USBD_STATUS_INVALID_URB_FUNCTION);
}

TEST_P(UrbFunctionTest, CurrentFrameNumberFollowsTheClock)
{
    usbsim::BusDevice& device = Plug();
    bus.StepFrames(1234);
    URB urb{};
    urb.UrbHeader.Length = sizeof(_URB_GET_CURRENT_FRAME_NUMBER);
    urb.UrbHeader.Function = URB_FUNCTION_GET_CURRENT_FRAME_NUMBER;
    ASSERT_EQ(Submit(device.Pdo(), &urb), STATUS_SUCCESS);
    EXPECT_EQ(urb.UrbGetCurrentFrameNumber.FrameNumber, 1234u);
}

INSTANTIATE_TEST_SUITE_P(Modes, UrbFunctionTest,
                         testing::Values(CompletionMode::Synchronous, CompletionMode::Pending),
                         [](const auto& info) {
                             return info.param == CompletionMode::Synchronous ? "Synchronous" : "Pending";
                         });

}  // namespace
