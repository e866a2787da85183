// The USBD descriptor search and select-configuration construction, on
// well-formed sets and on buffers a hostile device could send.
#include "hardware/devices.h"
#include "km/verifier.h"

#include <usbdlib.h>

#include <gtest/gtest.h>

namespace {

using hardware::Bytes;

PUSB_CONFIGURATION_DESCRIPTOR AsConfig(Bytes& b)
{
    return reinterpret_cast<PUSB_CONFIGURATION_DESCRIPTOR>(b.data());
}

TEST(ParseConfigurationDescriptorEx, FindsTheFirstInterfaceMatchingEveryGivenField)
{
    Bytes config = hardware::ClassCompliantDescriptors(hardware::kClassCompliant).configuration;
    PUSB_CONFIGURATION_DESCRIPTOR c = AsConfig(config);

    PUSB_INTERFACE_DESCRIPTOR midi = USBD_ParseConfigurationDescriptorEx(c, c, -1, -1, 1, 3, -1);
    ASSERT_NE(midi, nullptr);
    EXPECT_EQ(midi->bInterfaceNumber, 3);

    PUSB_INTERFACE_DESCRIPTOR streaming = USBD_ParseConfigurationDescriptorEx(c, c, 2, 1, -1, -1, -1);
    ASSERT_NE(streaming, nullptr);
    EXPECT_EQ(streaming->bAlternateSetting, 1);
    EXPECT_EQ(streaming->bNumEndpoints, 1);

    EXPECT_EQ(USBD_ParseConfigurationDescriptorEx(c, c, 9, -1, -1, -1, -1), nullptr);
}

TEST(ParseConfigurationDescriptorEx, FindsADescriptorAtTheStartPositionItself)
{
    Bytes config = hardware::ClassCompliantDescriptors(hardware::kClassCompliant).configuration;
    PUSB_CONFIGURATION_DESCRIPTOR c = AsConfig(config);
    PUSB_INTERFACE_DESCRIPTOR first = USBD_ParseConfigurationDescriptorEx(c, c, -1, -1, -1, -1, -1);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(USBD_ParseConfigurationDescriptorEx(c, first, -1, -1, -1, -1, -1), first);
    PUSB_INTERFACE_DESCRIPTOR next =
        USBD_ParseConfigurationDescriptorEx(c, reinterpret_cast<PUCHAR>(first) + 1, -1, -1, -1, -1, -1);
    // Starting inside a descriptor walks whatever bytes are there; it never
    // leaves the configuration.
    if (next) {
        EXPECT_GE(reinterpret_cast<PUCHAR>(next), config.data());
        EXPECT_LE(reinterpret_cast<PUCHAR>(next) + sizeof(USB_INTERFACE_DESCRIPTOR),
                  config.data() + config.size());
    }
}

TEST(ParseDescriptors, FindsByTypeAndStopsAtAZeroLength)
{
    Bytes config = hardware::ZeroLengthDescriptorInside().configuration;
    // Endpoints all follow the zero-length descriptor: the walk never reaches them.
    EXPECT_EQ(USBD_ParseDescriptors(config.data(), ULONG(config.size()), config.data(),
                                    USB_ENDPOINT_DESCRIPTOR_TYPE),
              nullptr);
    PUSB_COMMON_DESCRIPTOR first = USBD_ParseDescriptors(config.data(), ULONG(config.size()), config.data(),
                                                         USB_INTERFACE_DESCRIPTOR_TYPE);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(reinterpret_cast<PUCHAR>(first), config.data() + 9);
}

struct HostileCase {
    const char* name;
    Bytes bytes;
};

class HostileBuffer : public testing::TestWithParam<HostileCase> {};

// Every search runs on an exactly sized heap copy, so a read past the end is
// a sanitizer failure, not a silent pass.
TEST_P(HostileBuffer, SearchesStayInsideTheBuffer)
{
    const Bytes& source = GetParam().bytes;
    std::unique_ptr<uint8_t[]> copy(new uint8_t[source.size()]);
    std::copy(source.begin(), source.end(), copy.get());
    for (LONG type : {1, 2, 4, 5, 0x24, 0x25}) {
        PUSB_COMMON_DESCRIPTOR d = USBD_ParseDescriptors(copy.get(), ULONG(source.size()), copy.get(), type);
        if (d) {
            EXPECT_LE(reinterpret_cast<uint8_t*>(d) + d->bLength, copy.get() + source.size());
        }
    }
}

Bytes Truncated(size_t keep)
{
    Bytes b = hardware::ClassCompliantDescriptors(hardware::kClassCompliant).configuration;
    b.resize(keep);
    return b;
}

INSTANTIATE_TEST_SUITE_P(
    Descriptors, HostileBuffer,
    testing::Values(HostileCase{"Empty", {}}, HostileCase{"OneByte", {9}},
                    HostileCase{"LengthOne", {1, 4, 1, 4}},
                    HostileCase{"OverrunsEnd", {9, 2, 0, 1, 9, 4, 0, 0, 2}},
                    HostileCase{"CutInsideInterface", Truncated(14)},
                    HostileCase{"CutInsideEndpoint", Truncated(60)},
                    HostileCase{"ShortInterface", {9, 2, 13, 0, 1, 1, 0, 0x80, 50, 4, 4, 0, 0}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ParseConfigurationDescriptorEx, IgnoresInterfaceDescriptorsTooShortToHoldTheirFields)
{
    // An interface descriptor of bLength 4 is not a match even for "any".
    Bytes config = {9, 2, 13, 0, 1, 1, 0, 0x80, 50, 4, 4, 0, 0};
    PUSB_CONFIGURATION_DESCRIPTOR c = AsConfig(config);
    EXPECT_EQ(USBD_ParseConfigurationDescriptorEx(c, c, -1, -1, -1, -1, -1), nullptr);
}

TEST(CreateConfigurationRequestEx, BuildsOneRecordPerListedInterface)
{
    Bytes config = hardware::ClassCompliantDescriptors(hardware::kClassCompliant).configuration;
    PUSB_CONFIGURATION_DESCRIPTOR c = AsConfig(config);
    USBD_INTERFACE_LIST_ENTRY list[] = {
        {USBD_ParseConfigurationDescriptorEx(c, c, 0, 0, -1, -1, -1), nullptr},  // no endpoints
        {USBD_ParseConfigurationDescriptorEx(c, c, 3, 0, -1, -1, -1), nullptr},  // 2 endpoints
        {nullptr, nullptr},
    };
    PURB urb = USBD_CreateConfigurationRequestEx(c, list);
    ASSERT_NE(urb, nullptr);
    EXPECT_EQ(urb->UrbHeader.Function, URB_FUNCTION_SELECT_CONFIGURATION);
    EXPECT_EQ(urb->UrbHeader.Length, FIELD_OFFSET(_URB_SELECT_CONFIGURATION, Interface) +
                                         GET_USBD_INTERFACE_SIZE(0) + GET_USBD_INTERFACE_SIZE(2));
    EXPECT_EQ(urb->UrbSelectConfiguration.ConfigurationDescriptor, c);

    ASSERT_EQ(list[0].Interface, &urb->UrbSelectConfiguration.Interface);
    EXPECT_EQ(list[0].Interface->Length, GET_USBD_INTERFACE_SIZE(0));
    EXPECT_EQ(list[0].Interface->InterfaceNumber, 0);
    EXPECT_EQ(list[0].Interface->NumberOfPipes, 0u);
    ASSERT_EQ(reinterpret_cast<PUCHAR>(list[1].Interface),
              reinterpret_cast<PUCHAR>(list[0].Interface) + list[0].Interface->Length);
    EXPECT_EQ(list[1].Interface->InterfaceNumber, 3);
    EXPECT_EQ(list[1].Interface->NumberOfPipes, 2u);
    EXPECT_EQ(list[1].Interface->Pipes[1].MaximumTransferSize, ULONG(USBD_DEFAULT_MAXIMUM_TRANSFER_SIZE));
    ExFreePool(urb);
}

TEST(CreateConfigurationRequestEx, ComesFromPoolSoAFailedAllocationGivesNull)
{
    Bytes config = hardware::ClassCompliantDescriptors(hardware::kClassCompliant).configuration;
    PUSB_CONFIGURATION_DESCRIPTOR c = AsConfig(config);
    USBD_INTERFACE_LIST_ENTRY list[] = {{USBD_ParseConfigurationDescriptorEx(c, c, 0, 0, -1, -1, -1), nullptr},
                                        {nullptr, nullptr}};
    kmsim::FailNthAllocation(1);
    EXPECT_EQ(USBD_CreateConfigurationRequestEx(c, list), nullptr);
    EXPECT_EQ(list[0].Interface, nullptr);
}

TEST(CreateConfigurationRequestEx, RefusesADescriptorOutsideTheConfiguration)
{
    Bytes config = hardware::ClassCompliantDescriptors(hardware::kClassCompliant).configuration;
    Bytes elsewhere = hardware::Interface(0, 0, 30, 0xFF, 0);
    PUSB_CONFIGURATION_DESCRIPTOR c = AsConfig(config);
    USBD_INTERFACE_LIST_ENTRY list[] = {
        {reinterpret_cast<PUSB_INTERFACE_DESCRIPTOR>(elsewhere.data()), nullptr}, {nullptr, nullptr}};
    EXPECT_EQ(USBD_CreateConfigurationRequestEx(c, list), nullptr);
}

TEST(CreateConfigurationRequestEx, RefusesAnEmptyList)
{
    Bytes config = hardware::ClassCompliantDescriptors(hardware::kClassCompliant).configuration;
    USBD_INTERFACE_LIST_ENTRY list[] = {{nullptr, nullptr}};
    EXPECT_EQ(USBD_CreateConfigurationRequestEx(AsConfig(config), list), nullptr);
}

}  // namespace
