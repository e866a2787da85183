// Devices whose descriptors are short, inconsistent or garbage: the bus
// serves exactly the bytes supplied and fails configuration cleanly.
#include "hardware/devices.h"
#include "urbclient.h"

#include <gtest/gtest.h>

#include <random>

namespace {

using namespace usbtest;

class HostileDeviceTest : public testing::Test {
protected:
    usbsim::BusDevice& Plug(usbsim::DescriptorSet set)
    {
        return bus.Plug(hardware::MakeDeviceFromDescriptors(std::move(set)));
    }
    usbsim::Bus bus;
};

TEST_F(HostileDeviceTest, ConfigurationShorterThanItsTotalLengthServesOnlyWhatExists)
{
    const usbsim::DescriptorSet set = hardware::TotalLengthBeyondData();
    usbsim::BusDevice& device = Plug(set);
    std::vector<uint8_t> buffer(4096);
    URB urb;
    BuildGetDescriptor(&urb, USB_CONFIGURATION_DESCRIPTOR_TYPE, 0, 0, buffer.data(), ULONG(buffer.size()));
    ASSERT_EQ(Submit(device.Pdo(), &urb), STATUS_SUCCESS);
    EXPECT_EQ(urb.UrbControlDescriptorRequest.TransferBufferLength, set.configuration.size());
    // What is there still configures.
    Configuration config(device.Pdo());
    EXPECT_EQ(config.Status(), STATUS_SUCCESS);
}

TEST_F(HostileDeviceTest, InterfacesBehindAZeroLengthDescriptorCannotBeSelected)
{
    usbsim::BusDevice& device = Plug(hardware::ZeroLengthDescriptorInside());
    // Records built from the intact set name interfaces the device's own
    // walk never reaches.
    hardware::Bytes intact = hardware::ClassCompliantDescriptors(hardware::kClassCompliant).configuration;
    auto* c = reinterpret_cast<PUSB_CONFIGURATION_DESCRIPTOR>(intact.data());
    USBD_INTERFACE_LIST_ENTRY list[] = {{USBD_ParseConfigurationDescriptorEx(c, c, 0, 0, -1, -1, -1), nullptr},
                                        {USBD_ParseConfigurationDescriptorEx(c, c, 3, 0, -1, -1, -1), nullptr},
                                        {nullptr, nullptr}};
    PURB urb = USBD_CreateConfigurationRequestEx(c, list);
    ASSERT_NE(urb, nullptr);
    EXPECT_EQ(Submit(device.Pdo(), urb), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(urb->UrbHeader.Status, USBD_STATUS_INTERFACE_NOT_FOUND);
    EXPECT_FALSE(device.Configured());
    ExFreePool(urb);
}

TEST_F(HostileDeviceTest, InterfaceClaimingMoreEndpointsThanItHasIsRefused)
{
    usbsim::DescriptorSet set = hardware::DescriptorsFor(hardware::kRawMidiA);
    set.configuration[9 + 4] = 3;  // bNumEndpoints 3, two endpoint descriptors follow
    usbsim::BusDevice& device = Plug(set);
    Configuration config(device.Pdo());
    EXPECT_EQ(config.Status(), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(config.Urb()->UrbHeader.Status, USBD_STATUS_INVALID_CONFIGURATION_DESCRIPTOR);
    EXPECT_FALSE(device.Configured());
}

TEST_F(HostileDeviceTest, ASetWithoutAConfigurationHeaderCannotBeConfigured)
{
    usbsim::BusDevice& device = Plug(hardware::InterfaceInPlaceOfConfiguration());
    Configuration config(device.Pdo());
    EXPECT_EQ(config.Status(), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(config.Urb()->UrbHeader.Status, USBD_STATUS_INVALID_CONFIGURATION_DESCRIPTOR);
    EXPECT_FALSE(device.Configured());
}

TEST_F(HostileDeviceTest, ShortDeviceDescriptorIsServedAsIs)
{
    usbsim::DescriptorSet set = hardware::DescriptorsFor(hardware::kRawMidiA);
    set.device.resize(8);
    usbsim::BusDevice& device = Plug(set);
    USB_DEVICE_DESCRIPTOR d{};
    URB urb;
    BuildGetDescriptor(&urb, USB_DEVICE_DESCRIPTOR_TYPE, 0, 0, &d, sizeof d);
    ASSERT_EQ(Submit(device.Pdo(), &urb), STATUS_SUCCESS);
    EXPECT_EQ(urb.UrbControlDescriptorRequest.TransferBufferLength, 8u);
    EXPECT_EQ(d.idVendor, 0);
    EXPECT_EQ(device.HardwareId(), "USB\\VID_0000&PID_0000");
}

TEST_F(HostileDeviceTest, DeviceWithoutAConfigurationStalls)
{
    usbsim::DescriptorSet set = hardware::DescriptorsFor(hardware::kRawMidiA);
    set.configuration.clear();
    usbsim::BusDevice& device = Plug(set);
    uint8_t header[9];
    URB urb;
    BuildGetDescriptor(&urb, USB_CONFIGURATION_DESCRIPTOR_TYPE, 0, 0, header, sizeof header);
    EXPECT_EQ(Submit(device.Pdo(), &urb), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(urb.UrbHeader.Status, USBD_STATUS_STALL_PID);
    EXPECT_EQ(urb.UrbControlDescriptorRequest.TransferBufferLength, 0u);
}

// Corrupted copies of a real set, served and configured by a careful client:
// every outcome is a definite status; the sanitizers check the rest.
TEST_F(HostileDeviceTest, CorruptedDescriptorSetsNeverTakeTheBusOutOfBounds)
{
    const hardware::Bytes original = hardware::ClassCompliantDescriptors(hardware::kClassCompliant).configuration;
    std::mt19937 random(20261207);
    int configured = 0;
    for (int round = 0; round < 300; ++round) {
        usbsim::DescriptorSet set = hardware::ClassCompliantDescriptors(hardware::kClassCompliant);
        set.configuration.resize(random() % (original.size() + 1));
        for (int flips = random() % 6; flips > 0 && !set.configuration.empty(); --flips)
            set.configuration[random() % set.configuration.size()] = uint8_t(random());
        usbsim::BusDevice& device = Plug(std::move(set));
        Configuration config(device.Pdo());
        EXPECT_NE(config.Status(), STATUS_PENDING);
        configured += NT_SUCCESS(config.Status());
        bus.Remove(device);
    }
    EXPECT_GT(configured, 0);
}

// Interface 0 has alternate setting 1 twice: the first claims `firstCount`
// endpoints and has one, the second claims and has two.
usbsim::DescriptorSet DuplicateSetting(uint8_t firstCount)
{
    usbsim::DescriptorSet set = hardware::DescriptorsFor(hardware::kRawMidiA);
    set.configuration = {
        9, 2, 57, 0, 1, 1, 0, 0x80, 50,
        9, 4, 0, 0, 0, 0xFF, 0, 0, 0,
        9, 4, 0, 1, firstCount, 0xFF, 0, 0, 0,
        7, 5, 0x81, 2, 64, 0, 0,
        9, 4, 0, 1, 2, 0xFE, 0, 0, 0,
        7, 5, 0x82, 2, 64, 0, 0,
        7, 5, 0x03, 2, 64, 0, 0,
    };
    return set;
}

struct DuplicateCase {
    const char* name;
    uint8_t firstCount;
    NTSTATUS status;
    USBD_STATUS usbd;
};

class DuplicateSettingTest : public HostileDeviceTest, public testing::WithParamInterface<DuplicateCase> {};

// Regression: the request's size check and the selection itself must read
// the same descriptor as USBD_ParseConfigurationDescriptorEx, the first
// match, or a driver sizing its request correctly draws a verifier finding.
TEST_P(DuplicateSettingTest, SelectInterfaceUsesTheFirstMatchingDescriptorLikeTheParser)
{
    const usbsim::DescriptorSet set = DuplicateSetting(GetParam().firstCount);
    usbsim::BusDevice& device = Plug(set);
    Configuration config(device.Pdo());
    ASSERT_EQ(config.Status(), STATUS_SUCCESS);

    std::vector<uint8_t> copy = set.configuration;
    auto* c = reinterpret_cast<PUSB_CONFIGURATION_DESCRIPTOR>(copy.data());
    const PUSB_INTERFACE_DESCRIPTOR first = USBD_ParseConfigurationDescriptorEx(c, c, 0, 1, -1, -1, -1);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->bInterfaceClass, 0xFF);
    UrbBuffer select = SelectInterfaceUrb(config.Handle(), 0, 1, first->bNumEndpoints);
    EXPECT_EQ(Submit(device.Pdo(), select.Get()), GetParam().status);
    EXPECT_EQ(select->UrbHeader.Status, GetParam().usbd);
    if (NT_SUCCESS(GetParam().status)) {
        EXPECT_EQ(select->UrbSelectInterface.Interface.NumberOfPipes, 1u);
        EXPECT_EQ(select->UrbSelectInterface.Interface.Pipes[0].EndpointAddress, 0x81);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sets, DuplicateSettingTest,
    testing::Values(DuplicateCase{"FirstConsistent", 1, STATUS_SUCCESS, USBD_STATUS_SUCCESS},
                    DuplicateCase{"FirstContradictsItsEndpoints", 2, STATUS_UNSUCCESSFUL,
                                  USBD_STATUS_INVALID_CONFIGURATION_DESCRIPTOR}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
