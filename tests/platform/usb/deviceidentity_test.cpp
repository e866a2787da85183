// Device identities as Windows makes them from the descriptors.
#include "hardware/devices.h"
#include "usb/descriptordevice.h"
#include "usb/deviceidentity.h"

#include <gtest/gtest.h>

namespace {

using usbsim::DeviceIdentity;
using usbsim::IdentifyDevice;

constexpr size_t kSerialIndexOffset = 16;

usbsim::DescriptorSet WithSerial(std::u16string_view serial)
{
    usbsim::DescriptorSet set = hardware::DescriptorsFor(0x10);
    set.device[kSerialIndexOffset] = 9;
    set.strings[9] = usbsim::MakeStringDescriptor(serial);
    return set;
}

TEST(DeviceIdentity, WithoutSerialTheIdNamesThePortAndIdsAreUpperCaseHex)
{
    usbsim::DescriptorDevice device(hardware::DescriptorsFor(0x10));
    DeviceIdentity identity = IdentifyDevice(device, 3);
    EXPECT_EQ(identity.instanceId, "USB\\VID_3A1E&PID_0010\\5&2a1e3f07&0&3");
    ASSERT_EQ(identity.hardwareIds.size(), 2u);
    EXPECT_EQ(identity.hardwareIds[0], "USB\\VID_3A1E&PID_0010&REV_0100");  // bcdDevice 1.00
    EXPECT_EQ(identity.hardwareIds[1], "USB\\VID_3A1E&PID_0010");
    // Same device, same port: same id, so a replugged device finds its node.
    EXPECT_EQ(IdentifyDevice(device, 3).instanceId, identity.instanceId);
}

TEST(DeviceIdentity, ClassZeroDevicesTakeTheirCompatibleIdsFromTheFirstInterface)
{
    usbsim::DescriptorDevice device(hardware::ClassCompliantDescriptors(0x20));
    DeviceIdentity identity = IdentifyDevice(device, 1);
    ASSERT_EQ(device.DeviceDescriptor()[4], 0);
    EXPECT_EQ(identity.compatibleIds,
              (std::vector<std::string>{"USB\\Class_01&SubClass_01&Prot_00", "USB\\Class_01&SubClass_01", "USB\\Class_01"}));
}

TEST(DeviceIdentity, APrintableSerialNamesTheInstance)
{
    usbsim::DescriptorDevice device(WithSerial(u"MV0042"));
    EXPECT_EQ(IdentifyDevice(device, 5).instanceId, "USB\\VID_3A1E&PID_0010\\MV0042");
}

TEST(DeviceIdentity, SerialsWindowsRefusesFallBackToThePort)
{
    for (std::u16string serial : {std::u16string(u"A,B"), std::u16string(u"tab\there"), std::u16string(u"\u00e9t\u00e9")}) {
        usbsim::DescriptorDevice device(WithSerial(serial));
        EXPECT_EQ(IdentifyDevice(device, 2).instanceId, "USB\\VID_3A1E&PID_0010\\5&2a1e3f07&0&2");
    }
    // A string descriptor that lies about its length.
    usbsim::DescriptorSet lying = WithSerial(u"MV1");
    lying.strings[9][0] = 200;
    usbsim::DescriptorDevice device(lying);
    EXPECT_EQ(IdentifyDevice(device, 2).instanceId, "USB\\VID_3A1E&PID_0010\\5&2a1e3f07&0&2");
}

TEST(DeviceIdentity, TruncatedDescriptorsGiveZeroIdsWithoutReadingPastThem)
{
    usbsim::DescriptorSet set;
    set.device = {18, 1, 0, 2};
    set.configuration = {9, 2, 40, 0, 1, 1, 0, 0x80, 50, 200, 4};  // an interface descriptor longer than the set
    usbsim::DescriptorDevice device(set);
    DeviceIdentity identity = IdentifyDevice(device, 1);
    EXPECT_EQ(identity.hardwareIds[1], "USB\\VID_0000&PID_0000");
    EXPECT_EQ(identity.compatibleIds[2], "USB\\Class_00");
}

}  // namespace
