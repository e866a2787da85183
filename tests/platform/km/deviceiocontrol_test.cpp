#include "drivertestbed.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <thread>

namespace {

std::function<NTSTATUS(PDEVICE_OBJECT, PIRP)> g_dispatch;
NTSTATUS Dispatch(PDEVICE_OBJECT device, PIRP irp) { return g_dispatch(device, irp); }

constexpr ULONG kBufferedCode = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x801, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr ULONG kNeitherCode = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x802, METHOD_NEITHER, FILE_ANY_ACCESS);

class DeviceIoControl : public testing::Test {
protected:
    DriverTestbed bed{2};
    KEVENT event;
    IO_STATUS_BLOCK iosb{};
    kmsim::PoolUsage poolBefore;

    void SetUp() override
    {
        bed.SetDispatch(IRP_MJ_DEVICE_CONTROL, Dispatch);
        bed.SetDispatch(IRP_MJ_INTERNAL_DEVICE_CONTROL, Dispatch);
        KeInitializeEvent(&event, NotificationEvent, FALSE);
        poolBefore = kmsim::PoolOutstandingAll();
    }
    void TearDown() override { g_dispatch = nullptr; }

    // The I/O manager freed the IRP and its buffer.
    bool NothingLeft() const { return kmsim::PoolOutstandingAll().allocations == poolBefore.allocations; }
};

TEST_F(DeviceIoControl, BufferedRequestCarriesInputAndReturnsOutput)
{
    char input[8] = "request";
    char output[16];
    memset(output, '.', sizeof output);
    g_dispatch = [](PDEVICE_OBJECT, PIRP irp) {
        PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
        EXPECT_EQ(sp->MajorFunction, IRP_MJ_DEVICE_CONTROL);
        EXPECT_EQ(sp->Parameters.DeviceIoControl.IoControlCode, kBufferedCode);
        EXPECT_EQ(sp->Parameters.DeviceIoControl.InputBufferLength, 8u);
        EXPECT_EQ(sp->Parameters.DeviceIoControl.OutputBufferLength, 16u);
        auto buffer = static_cast<char*>(irp->AssociatedIrp.SystemBuffer);
        EXPECT_STREQ(buffer, "request");
        memcpy(buffer, "answer", 6);
        irp->IoStatus.Status = STATUS_SUCCESS;
        irp->IoStatus.Information = 6;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        return STATUS_SUCCESS;
    };
    PIRP irp = IoBuildDeviceIoControlRequest(kBufferedCode, bed.Top(), input, sizeof input, output, sizeof output,
                                             FALSE, &event, &iosb);
    ASSERT_NE(irp, nullptr);
    EXPECT_EQ(IoCallDriver(bed.Top(), irp), STATUS_SUCCESS);
    EXPECT_EQ(iosb.Status, STATUS_SUCCESS);
    EXPECT_EQ(iosb.Information, 6u);
    EXPECT_EQ(std::string(output, 7), "answer.");  // only Information bytes come back
    EXPECT_EQ(KeReadStateEvent(&event), 1);
    EXPECT_TRUE(NothingLeft());
}

TEST_F(DeviceIoControl, FailedBufferedRequestCopiesNoOutput)
{
    char output[4] = {'.', '.', '.', '.'};
    g_dispatch = [](PDEVICE_OBJECT, PIRP irp) {
        memset(irp->AssociatedIrp.SystemBuffer, 'x', 4);
        irp->IoStatus.Status = STATUS_INVALID_DEVICE_REQUEST;
        irp->IoStatus.Information = 4;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        return STATUS_INVALID_DEVICE_REQUEST;
    };
    PIRP irp =
        IoBuildDeviceIoControlRequest(kBufferedCode, bed.Top(), nullptr, 0, output, sizeof output, FALSE, &event, &iosb);
    EXPECT_EQ(IoCallDriver(bed.Top(), irp), STATUS_INVALID_DEVICE_REQUEST);
    EXPECT_EQ(iosb.Status, STATUS_INVALID_DEVICE_REQUEST);
    EXPECT_EQ(std::string(output, 4), "....");
    EXPECT_TRUE(NothingLeft());
}

TEST_F(DeviceIoControl, InternalNeitherRequestPassesTheCallersPointers)
{
    int request = 7;
    int reply = 0;
    g_dispatch = [&](PDEVICE_OBJECT, PIRP irp) {
        PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
        EXPECT_EQ(sp->MajorFunction, IRP_MJ_INTERNAL_DEVICE_CONTROL);
        EXPECT_EQ(sp->Parameters.DeviceIoControl.Type3InputBuffer, &request);
        EXPECT_EQ(irp->UserBuffer, &reply);
        EXPECT_EQ(irp->AssociatedIrp.SystemBuffer, nullptr);
        irp->IoStatus.Status = STATUS_SUCCESS;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        return STATUS_SUCCESS;
    };
    PIRP irp = IoBuildDeviceIoControlRequest(kNeitherCode, bed.Top(), &request, sizeof request, &reply, sizeof reply,
                                             TRUE, &event, &iosb);
    ASSERT_NE(irp, nullptr);
    IoCallDriver(bed.Top(), irp);
    EXPECT_EQ(iosb.Status, STATUS_SUCCESS);
    EXPECT_TRUE(NothingLeft());
}

TEST_F(DeviceIoControl, FirstArgumentSetByTheCallerReachesTheDriver)
{
    int urb = 0;
    PVOID seen = nullptr;
    g_dispatch = [&](PDEVICE_OBJECT, PIRP irp) {
        seen = IoGetCurrentIrpStackLocation(irp)->Parameters.Others.Argument1;
        irp->IoStatus.Status = STATUS_SUCCESS;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        return STATUS_SUCCESS;
    };
    PIRP irp = IoBuildDeviceIoControlRequest(0x00220003, bed.Top(), nullptr, 0, nullptr, 0, TRUE, &event, &iosb);
    IoGetNextIrpStackLocation(irp)->Parameters.Others.Argument1 = &urb;
    IoCallDriver(bed.Top(), irp);
    EXPECT_EQ(seen, &urb);
}

TEST_F(DeviceIoControl, PendingRequestSignalsTheEventWhenCompletedElsewhere)
{
    PIRP pended = nullptr;
    g_dispatch = [&](PDEVICE_OBJECT device, PIRP irp) -> NTSTATUS {
        if (device == bed.Top()) {
            IoSkipCurrentIrpStackLocation(irp);
            return IoCallDriver(bed.Device(0), irp);
        }
        IoMarkIrpPending(irp);
        pended = irp;
        return STATUS_PENDING;
    };
    PIRP irp = IoBuildDeviceIoControlRequest(kNeitherCode, bed.Top(), nullptr, 0, nullptr, 0, TRUE, &event, &iosb);
    ASSERT_EQ(IoCallDriver(bed.Top(), irp), STATUS_PENDING);
    EXPECT_EQ(KeReadStateEvent(&event), 0);
    std::thread completer([&] {
        KIRQL old = KeRaiseIrqlToDpcLevel();
        pended->IoStatus.Status = STATUS_DEVICE_NOT_CONNECTED;
        IoCompleteRequest(pended, IO_NO_INCREMENT);
        KeLowerIrql(old);
    });
    EXPECT_EQ(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr), STATUS_SUCCESS);
    completer.join();
    EXPECT_EQ(iosb.Status, STATUS_DEVICE_NOT_CONNECTED);
    EXPECT_TRUE(NothingLeft());
}

TEST_F(DeviceIoControl, BuildingFailsCleanlyWhenPoolRunsOut)
{
    char input[4] = {};
    for (uint64_t nth : {1u, 2u}) {  // the IRP, then the system buffer
        kmsim::FailNthAllocation(nth);
        EXPECT_EQ(IoBuildDeviceIoControlRequest(kBufferedCode, bed.Top(), input, sizeof input, nullptr, 0, FALSE,
                                                &event, &iosb),
                  nullptr);
        EXPECT_TRUE(NothingLeft());
    }
}

TEST_F(DeviceIoControl, UnsentRequestCanBeFreed)
{
    char input[4] = {};
    PIRP irp = IoBuildDeviceIoControlRequest(kBufferedCode, bed.Top(), input, sizeof input, nullptr, 0, FALSE, &event,
                                             &iosb);
    IoFreeIrp(irp);
    EXPECT_TRUE(NothingLeft());
}

}  // namespace
