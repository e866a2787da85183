// Published sizes of the USB records, per word size: a driver puts these in
// header Length fields, so they must match what the stack expects.
#include <usbbusif.h>
#include <usbdi.h>
#include <usbdlib.h>

#include <gtest/gtest.h>

namespace {

constexpr bool k32 = sizeof(void*) == 4;
constexpr size_t Pick(size_t x86, size_t x64) { return k32 ? x86 : x64; }

static_assert(sizeof(USB_DEVICE_DESCRIPTOR) == 18);
static_assert(sizeof(USB_CONFIGURATION_DESCRIPTOR) == 9);
static_assert(sizeof(USB_INTERFACE_DESCRIPTOR) == 9);
static_assert(sizeof(USB_ENDPOINT_DESCRIPTOR) == 7);
static_assert(sizeof(USB_COMMON_DESCRIPTOR) == 2);
static_assert(offsetof(USB_STRING_DESCRIPTOR, bString) == 2);

static_assert(sizeof(_URB_HEADER) == Pick(16, 24));
static_assert(sizeof(_URB_CONTROL_DESCRIPTOR_REQUEST) == Pick(80, 136));
static_assert(sizeof(_URB_CONTROL_VENDOR_OR_CLASS_REQUEST) == Pick(80, 136));
static_assert(sizeof(_URB_PIPE_REQUEST) == Pick(24, 40));
static_assert(sizeof(_URB_SELECT_INTERFACE) == Pick(56, 80));
static_assert(sizeof(_URB_SELECT_CONFIGURATION) == Pick(60, 88));
static_assert(sizeof(_URB_BULK_OR_INTERRUPT_TRANSFER) == Pick(72, 128));
static_assert(sizeof(_URB_ISOCH_TRANSFER) == Pick(96, 152));
static_assert(sizeof(USBD_ISO_PACKET_DESCRIPTOR) == 12);
static_assert(sizeof(USBD_PIPE_INFORMATION) == Pick(20, 24));
static_assert(sizeof(USBD_INTERFACE_INFORMATION) == Pick(36, 48));
static_assert(offsetof(USBD_INTERFACE_INFORMATION, Pipes) == Pick(16, 24));
static_assert(sizeof(USB_BUS_INTERFACE_USBDI_V0) == Pick(32, 64));
static_assert(offsetof(_URB_CONTROL_DESCRIPTOR_REQUEST, Index) == Pick(74, 130));
static_assert(offsetof(_URB_ISOCH_TRANSFER, IsoPacket) == Pick(84, 140));

struct SizeCase {
    size_t actual;
    size_t expected;
    const char* what;
};

class RequestSizeTest : public testing::TestWithParam<SizeCase> {};

TEST_P(RequestSizeTest, MatchesThePublishedSize)
{
    EXPECT_EQ(GetParam().actual, GetParam().expected) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Formulas, RequestSizeTest,
    testing::Values(
        SizeCase{GET_SELECT_INTERFACE_REQUEST_SIZE(1), Pick(56, 80), "select interface, 1 pipe"},
        SizeCase{GET_SELECT_INTERFACE_REQUEST_SIZE(0), Pick(36, 56), "select interface, no pipe"},
        SizeCase{GET_SELECT_INTERFACE_REQUEST_SIZE(3), Pick(96, 128), "select interface, 3 pipes"},
        SizeCase{GET_USBD_INTERFACE_SIZE(0), Pick(16, 24), "interface information, no pipe"},
        SizeCase{GET_USBD_INTERFACE_SIZE(2), Pick(56, 72), "interface information, 2 pipes"},
        SizeCase{GET_ISO_URB_SIZE(8), Pick(96 + 96, 152 + 96), "isochronous, 8 more packets"},
        SizeCase{IOCTL_INTERNAL_USB_SUBMIT_URB, 0x00220003, "submit URB control code"}));

TEST(UsbBusInterfaceGuid, HasThePublishedValue)
{
    const GUID expected = {0xB1A96A13, 0x3DE0, 0x4574, {0x9B, 0x01, 0xC0, 0x8F, 0xEA, 0xB3, 0x18, 0xD6}};
    EXPECT_TRUE(IsEqualGUID(USB_BUS_INTERFACE_USBDI_GUID, expected));
}

TEST(UsbdStatus, ClassifiesSuccessPendingAndError)
{
    EXPECT_TRUE(USBD_SUCCESS(USBD_STATUS_SUCCESS));
    EXPECT_TRUE(USBD_PENDING(USBD_STATUS_PENDING));
    EXPECT_TRUE(USBD_ERROR(USBD_STATUS_NO_BANDWIDTH));
    EXPECT_EQ(ULONG(USBD_STATUS_NO_BANDWIDTH), 0x80000700u);
    EXPECT_TRUE(USBD_HALTED(USBD_STATUS_STALL_PID));
    EXPECT_FALSE(USBD_HALTED(USBD_STATUS_NO_BANDWIDTH));
}

}  // namespace
