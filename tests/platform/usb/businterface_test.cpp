// The USBDI bus interface a PDO hands out, and the frame clock behind it.
#include "hardware/devices.h"
#include "km/verifier.h"
#include "usb/bus.h"

#include <usbbusif.h>

#include <gtest/gtest.h>

namespace {

struct QueryResult {
    NTSTATUS status;
    USB_BUS_INTERFACE_USBDI_V0 usbdi;
};

QueryResult QueryUsbdi(PDEVICE_OBJECT pdo, USHORT size = sizeof(USB_BUS_INTERFACE_USBDI_V0),
                       USHORT version = USB_BUSIF_USBDI_VERSION_0)
{
    QueryResult result{STATUS_UNSUCCESSFUL, {}};
    PIRP irp = IoAllocateIrp(pdo->StackSize, FALSE);
    if (!irp) return result;
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = IRP_MJ_PNP;
    next->MinorFunction = IRP_MN_QUERY_INTERFACE;
    next->Parameters.QueryInterface.InterfaceType = &USB_BUS_INTERFACE_USBDI_GUID;
    next->Parameters.QueryInterface.Size = size;
    next->Parameters.QueryInterface.Version = version;
    next->Parameters.QueryInterface.Interface = reinterpret_cast<PINTERFACE>(&result.usbdi);
    IoSetCompletionRoutine(
        irp, [](PDEVICE_OBJECT, PIRP, PVOID) -> NTSTATUS { return STATUS_MORE_PROCESSING_REQUIRED; },
        nullptr, TRUE, TRUE, TRUE);
    IoCallDriver(pdo, irp);  // the bus answers PnP requests inside the call
    result.status = irp->IoStatus.Status;
    IoFreeIrp(irp);
    return result;
}

class BusInterfaceTest : public testing::Test {
protected:
    usbsim::Bus bus;
    usbsim::BusDevice& device = bus.Plug(hardware::MakeDevice(hardware::kAudioMidi));
};

TEST_F(BusInterfaceTest, QueryReturnsVersionZeroRecordHoldingOneReference)
{
    QueryResult q = QueryUsbdi(device.Pdo());
    ASSERT_EQ(q.status, STATUS_SUCCESS);
    EXPECT_EQ(q.usbdi.Size, sizeof(USB_BUS_INTERFACE_USBDI_V0));
    EXPECT_EQ(q.usbdi.Version, USB_BUSIF_USBDI_VERSION_0);
    ASSERT_NE(q.usbdi.QueryBusTime, nullptr);
    EXPECT_EQ(device.InterfaceReferences(), 1);
    q.usbdi.InterfaceReference(q.usbdi.BusContext);
    EXPECT_EQ(device.InterfaceReferences(), 2);
    q.usbdi.InterfaceDereference(q.usbdi.BusContext);
    q.usbdi.InterfaceDereference(q.usbdi.BusContext);
    EXPECT_EQ(device.InterfaceReferences(), 0);
}

TEST_F(BusInterfaceTest, DereferencingMoreThanReferencedIsReported)
{
    QueryResult q = QueryUsbdi(device.Pdo());
    q.usbdi.InterfaceDereference(q.usbdi.BusContext);
    kmsim::ExpectViolations violations;
    q.usbdi.InterfaceDereference(q.usbdi.BusContext);
    EXPECT_TRUE(violations.Saw("usb", "InterfaceDereference"));
}

TEST_F(BusInterfaceTest, QueryRefusesATooSmallRecordOrAnotherVersion)
{
    EXPECT_EQ(QueryUsbdi(device.Pdo(), 16).status, STATUS_INVALID_PARAMETER);
    EXPECT_EQ(QueryUsbdi(device.Pdo(), sizeof(USB_BUS_INTERFACE_USBDI_V0), 3).status, STATUS_NOT_SUPPORTED);
    EXPECT_EQ(device.InterfaceReferences(), 0);
}

struct ClockCase {
    ULONG start;
    ULONG step;
    ULONG expected;
};

class FrameClockTest : public BusInterfaceTest, public testing::WithParamInterface<ClockCase> {};

TEST_P(FrameClockTest, QueryBusTimeReadsTheSteppedFrameCounter)
{
    QueryResult q = QueryUsbdi(device.Pdo());
    bus.SetCurrentFrame(GetParam().start);
    bus.StepFrames(GetParam().step);
    ULONG frame = 0;
    EXPECT_EQ(q.usbdi.QueryBusTime(q.usbdi.BusContext, &frame), STATUS_SUCCESS);
    EXPECT_EQ(frame, GetParam().expected);
    q.usbdi.InterfaceDereference(q.usbdi.BusContext);
}

INSTANTIATE_TEST_SUITE_P(Frames, FrameClockTest,
                         testing::Values(ClockCase{0, 0, 0}, ClockCase{0, 1, 1}, ClockCase{100, 900, 1000},
                                         ClockCase{0xFFFFFFFF, 1, 0}, ClockCase{0xFFFFFFF0, 0x20, 0x10}));

TEST_F(BusInterfaceTest, OtherInterfaceQueriesKeepTheirStatus)
{
    static constexpr GUID kOther = {0x12345678, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
    PIRP irp = IoAllocateIrp(device.Pdo()->StackSize, FALSE);
    ASSERT_NE(irp, nullptr);
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = IRP_MJ_PNP;
    next->MinorFunction = IRP_MN_QUERY_INTERFACE;
    next->Parameters.QueryInterface.InterfaceType = &kOther;
    IoSetCompletionRoutine(
        irp, [](PDEVICE_OBJECT, PIRP, PVOID) -> NTSTATUS { return STATUS_MORE_PROCESSING_REQUIRED; },
        nullptr, TRUE, TRUE, TRUE);
    IoCallDriver(device.Pdo(), irp);
    EXPECT_EQ(irp->IoStatus.Status, STATUS_NOT_SUPPORTED);
    IoFreeIrp(irp);
}

}  // namespace
