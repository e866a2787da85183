#include "drivertestbed.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

// The tests' drivers: one dispatch routine per test, through a std::function
// so that each test states its driver's behaviour inline.
std::function<NTSTATUS(PDEVICE_OBJECT, PIRP)> g_dispatch;
NTSTATUS Dispatch(PDEVICE_OBJECT device, PIRP irp) { return g_dispatch(device, irp); }

struct CompletionLog {
    std::vector<std::string> calls;
    std::vector<PDEVICE_OBJECT> devices;
    std::vector<BOOLEAN> pendingReturned;
};

struct RoutineContext {
    CompletionLog* log;
    const char* name;
    NTSTATUS result;
};

NTSTATUS LoggingCompletion(PDEVICE_OBJECT device, PIRP irp, PVOID context)
{
    auto* c = static_cast<RoutineContext*>(context);
    c->log->calls.push_back(c->name);
    c->log->devices.push_back(device);
    c->log->pendingReturned.push_back(irp->PendingReturned);
    return c->result;
}

// A bottom driver that completes every request at once.
NTSTATUS CompleteAtOnce(PIRP irp)
{
    irp->IoStatus.Status = STATUS_SUCCESS;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_SUCCESS;
}

class Irp : public testing::Test {
protected:
    DriverTestbed bed{3};

    void SetUp() override { bed.SetDispatch(IRP_MJ_INTERNAL_DEVICE_CONTROL, Dispatch); }
    void TearDown() override { g_dispatch = nullptr; }

    // The completion routines' calls, and the sender's own routine: it keeps
    // the IRP for the test unless the test says otherwise.
    CompletionLog log;
    RoutineContext caller{&log, "caller", STATUS_MORE_PROCESSING_REQUIRED};

    // An IRP as a driver above the stack allocates it, with the caller's
    // own completion routine at the top location.
    PIRP Allocate()
    {
        PIRP irp = IoAllocateIrp(bed.Top()->StackSize, FALSE);
        EXPECT_NE(irp, nullptr);
        IoGetNextIrpStackLocation(irp)->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
        IoSetCompletionRoutine(irp, LoggingCompletion, &caller, TRUE, TRUE, TRUE);
        return irp;
    }

    // Every driver but the bottom one passes the IRP down with its own
    // completion routine; the bottom one runs `bottom`.
    void PassDownTo(std::function<NTSTATUS(PIRP)> bottom, std::vector<RoutineContext>* routines)
    {
        g_dispatch = [this, bottom, routines](PDEVICE_OBJECT device, PIRP irp) -> NTSTATUS {
            if (device == bed.Device(0)) return bottom(irp);
            size_t level = device == bed.Device(1) ? 0 : 1;
            IoCopyCurrentIrpStackLocationToNext(irp);
            IoSetCompletionRoutine(irp, LoggingCompletion, &(*routines)[level], TRUE, TRUE, TRUE);
            PDEVICE_OBJECT lower = device == bed.Device(1) ? bed.Device(0) : bed.Device(1);
            return IoCallDriver(lower, irp);
        };
    }
};

TEST_F(Irp, AllocatedIrpStartsAboveItsLastStackLocation)
{
    PIRP irp = IoAllocateIrp(3, FALSE);
    ASSERT_NE(irp, nullptr);
    EXPECT_EQ(irp->Type, IO_TYPE_IRP);
    EXPECT_EQ(irp->StackCount, 3);
    EXPECT_EQ(irp->CurrentLocation, 4);
    EXPECT_EQ(irp->Size, IoSizeOfIrp(3));
    EXPECT_EQ(IoGetCurrentIrpStackLocation(irp), reinterpret_cast<PIO_STACK_LOCATION>(irp + 1) + 3);
    IoFreeIrp(irp);
}

TEST_F(Irp, CallDriverMovesToTheNextLocationAndCallsTheMajorFunction)
{
    PIRP irp = Allocate();
    PIO_STACK_LOCATION expected = IoGetNextIrpStackLocation(irp);
    PIO_STACK_LOCATION seen = nullptr;
    PDEVICE_OBJECT seenDevice = nullptr;
    g_dispatch = [&](PDEVICE_OBJECT device, PIRP i) {
        seen = IoGetCurrentIrpStackLocation(i);
        seenDevice = seen->DeviceObject;
        EXPECT_EQ(device, bed.Top());
        EXPECT_EQ(i->CurrentLocation, bed.Top()->StackSize);
        i->IoStatus.Status = STATUS_SUCCESS;
        IoCompleteRequest(i, IO_NO_INCREMENT);
        return STATUS_SUCCESS;
    };
    EXPECT_EQ(IoCallDriver(bed.Top(), irp), STATUS_SUCCESS);
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(seenDevice, bed.Top());
    IoFreeIrp(irp);
}

TEST_F(Irp, CompletionRoutinesRunBottomUpOnBehalfOfTheirDrivers)
{
    std::vector<RoutineContext> routines{{&log, "middle", STATUS_SUCCESS}, {&log, "top", STATUS_SUCCESS}};
    PassDownTo(CompleteAtOnce, &routines);
    PIRP irp = Allocate();
    EXPECT_EQ(IoCallDriver(bed.Top(), irp), STATUS_SUCCESS);
    EXPECT_EQ(log.calls, (std::vector<std::string>{"middle", "top", "caller"}));
    EXPECT_EQ(log.devices, (std::vector<PDEVICE_OBJECT>{bed.Device(1), bed.Device(2), nullptr}));
    IoFreeIrp(irp);
}

TEST_F(Irp, MoreProcessingRequiredStopsCompletionUntilTheDriverCompletesAgain)
{
    std::vector<RoutineContext> routines{{&log, "middle", STATUS_MORE_PROCESSING_REQUIRED},
                                         {&log, "top", STATUS_SUCCESS}};
    PassDownTo(CompleteAtOnce, &routines);
    PIRP irp = Allocate();
    IoCallDriver(bed.Top(), irp);
    EXPECT_EQ(log.calls, (std::vector<std::string>{"middle"}));
    // The middle driver owns it again and finishes it.
    EXPECT_EQ(IoGetCurrentIrpStackLocation(irp)->DeviceObject, bed.Device(1));
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    EXPECT_EQ(log.calls, (std::vector<std::string>{"middle", "top", "caller"}));
    IoFreeIrp(irp);
}

struct ControlCase {
    const char* name;
    NTSTATUS status;
    bool cancelled;
    bool onSuccess, onError, onCancel;
    bool invoked;
};

class IrpControl : public Irp, public testing::WithParamInterface<ControlCase> {};

TEST_P(IrpControl, RoutineRunsOnlyForTheOutcomesItAskedFor)
{
    const ControlCase& c = GetParam();
    RoutineContext lowerRoutine{&log, "routine", STATUS_SUCCESS};
    g_dispatch = [&](PDEVICE_OBJECT device, PIRP irp) -> NTSTATUS {
        if (device == bed.Top()) {
            IoCopyCurrentIrpStackLocationToNext(irp);
            IoSetCompletionRoutine(irp, LoggingCompletion, &lowerRoutine, c.onSuccess, c.onError, c.onCancel);
            return IoCallDriver(bed.Device(1), irp);
        }
        irp->Cancel = c.cancelled;
        irp->IoStatus.Status = c.status;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        return c.status;
    };
    PIRP irp = Allocate();
    IoCallDriver(bed.Top(), irp);
    bool invoked = !log.calls.empty() && log.calls[0] == "routine";
    EXPECT_EQ(invoked, c.invoked);
    EXPECT_EQ(log.calls.back(), "caller");
    IoFreeIrp(irp);
}

const ControlCase kControlCases[] = {
    {"SuccessWanted", STATUS_SUCCESS, false, true, false, false, true},
    {"SuccessNotWanted", STATUS_SUCCESS, false, false, true, true, false},
    {"ErrorWanted", STATUS_UNSUCCESSFUL, false, false, true, false, true},
    {"ErrorNotWanted", STATUS_UNSUCCESSFUL, false, true, false, true, false},
    {"WarningCountsAsError", STATUS_BUFFER_OVERFLOW, false, false, true, false, true},
    {"CancelWanted", STATUS_CANCELLED, true, false, false, true, true},
    {"CancelledButSucceeded", STATUS_SUCCESS, true, false, false, true, true},
    {"CancelledNotWanted", STATUS_CANCELLED, true, true, false, false, false},
};

INSTANTIATE_TEST_SUITE_P(Irp, IrpControl, testing::ValuesIn(kControlCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Irp, PendingReturnedTravelsUpToEveryRoutine)
{
    PIRP pended = nullptr;
    // Top and middle pass the IRP down without routines; the bottom pends it.
    g_dispatch = [&](PDEVICE_OBJECT device, PIRP irp) -> NTSTATUS {
        if (device == bed.Device(0)) {
            IoMarkIrpPending(irp);
            pended = irp;
            return STATUS_PENDING;
        }
        IoSkipCurrentIrpStackLocation(irp);
        return IoCallDriver(device == bed.Top() ? bed.Device(1) : bed.Device(0), irp);
    };
    PIRP irp = Allocate();
    EXPECT_EQ(IoCallDriver(bed.Top(), irp), STATUS_PENDING);
    std::thread([&] {
        KIRQL old = KeRaiseIrqlToDpcLevel();
        pended->IoStatus.Status = STATUS_SUCCESS;
        IoCompleteRequest(pended, IO_NO_INCREMENT);
        KeLowerIrql(old);
    }).join();
    ASSERT_EQ(log.calls.size(), 1u);
    EXPECT_TRUE(log.pendingReturned[0]);
    IoFreeIrp(irp);
}

TEST_F(Irp, EmptyDispatchSlotFailsTheRequest)
{
    PIRP irp = Allocate();
    IoGetNextIrpStackLocation(irp)->MajorFunction = IRP_MJ_READ;
    EXPECT_EQ(IoCallDriver(bed.Top(), irp), STATUS_INVALID_DEVICE_REQUEST);
    EXPECT_EQ(irp->IoStatus.Status, STATUS_INVALID_DEVICE_REQUEST);
    EXPECT_EQ(log.calls.size(), 1u);
    IoFreeIrp(irp);
}

TEST_F(Irp, ReuseResetsTheIrpAndSetsItsStatus)
{
    g_dispatch = [](PDEVICE_OBJECT, PIRP irp) {
        irp->IoStatus.Status = STATUS_SUCCESS;
        irp->IoStatus.Information = 42;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        return STATUS_SUCCESS;
    };
    PIRP irp = Allocate();
    IoCallDriver(bed.Top(), irp);
    IoReuseIrp(irp, STATUS_NOT_SUPPORTED);
    EXPECT_EQ(irp->IoStatus.Status, STATUS_NOT_SUPPORTED);
    EXPECT_EQ(irp->IoStatus.Information, 0u);
    EXPECT_EQ(irp->StackCount, bed.Top()->StackSize);
    EXPECT_EQ(irp->CurrentLocation, irp->StackCount + 1);
    // And it can make the trip again.
    IoGetNextIrpStackLocation(irp)->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
    IoSetCompletionRoutine(irp, LoggingCompletion, &caller, TRUE, TRUE, TRUE);
    IoCallDriver(bed.Top(), irp);
    EXPECT_EQ(log.calls.size(), 2u);
    IoFreeIrp(irp);
}

NTSTATUS FreeAndStop(PDEVICE_OBJECT, PIRP irp, PVOID)
{
    IoFreeIrp(irp);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

TEST_F(Irp, TheSendersRoutineMayFreeTheIrp)
{
    kmsim::ExpectViolations violations;
    g_dispatch = [](PDEVICE_OBJECT, PIRP irp) { return CompleteAtOnce(irp); };
    PIRP irp = IoAllocateIrp(bed.Top()->StackSize, FALSE);
    IoGetNextIrpStackLocation(irp)->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
    IoSetCompletionRoutine(irp, FreeAndStop, nullptr, TRUE, TRUE, TRUE);
    IoCallDriver(bed.Top(), irp);
    EXPECT_TRUE(violations.Seen().empty());
}

// ---- Misuse -----------------------------------------------------------------

TEST_F(Irp, CompletingTwiceIsReported)
{
    caller.result = STATUS_SUCCESS;
    kmsim::ExpectViolations violations;
    PIRP irp = Allocate();
    g_dispatch = [](PDEVICE_OBJECT, PIRP i) {
        i->IoStatus.Status = STATUS_SUCCESS;
        IoCompleteRequest(i, IO_NO_INCREMENT);
        IoCompleteRequest(i, IO_NO_INCREMENT);
        return STATUS_SUCCESS;
    };
    IoCallDriver(bed.Top(), irp);
    // The caller's routine did not stop completion: reported as well.
    EXPECT_TRUE(violations.Saw("irp", "completed past its top"));
    EXPECT_TRUE(violations.Saw("irp", "already completed"));
    EXPECT_EQ(log.calls.size(), 1u);
    IoFreeIrp(irp);
}

TEST_F(Irp, CompletingAnIrpOwnedByALowerDriverIsReported)
{
    PIRP pended = nullptr;
    kmsim::ExpectViolations violations;
    g_dispatch = [&](PDEVICE_OBJECT device, PIRP irp) -> NTSTATUS {
        if (device == bed.Device(1)) {
            IoMarkIrpPending(irp);
            pended = irp;
            return STATUS_PENDING;
        }
        IoCopyCurrentIrpStackLocationToNext(irp);
        NTSTATUS status = IoCallDriver(bed.Device(1), irp);
        // Wrong: the lower driver still owns it.
        irp->IoStatus.Status = STATUS_SUCCESS;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        return status;
    };
    PIRP irp = Allocate();
    IoCallDriver(bed.Top(), irp);
    EXPECT_TRUE(violations.Saw("irp", "while the driver at location"));
    (void)pended;
    IoFreeIrp(irp);
}

TEST_F(Irp, FreeingOrReusingAnIrpInFlightIsReported)
{
    PIRP pended = nullptr;
    g_dispatch = [&](PDEVICE_OBJECT, PIRP irp) {
        IoMarkIrpPending(irp);
        pended = irp;
        return STATUS_PENDING;
    };
    PIRP irp = Allocate();
    IoCallDriver(bed.Top(), irp);
    {
        kmsim::ExpectViolations violations;
        IoFreeIrp(irp);
        IoReuseIrp(irp, STATUS_SUCCESS);
        EXPECT_EQ(violations.Count("irp"), 2u);
        EXPECT_TRUE(violations.Saw("irp", "IoFreeIrp"));
        EXPECT_TRUE(violations.Saw("irp", "IoReuseIrp"));
    }
    pended->IoStatus.Status = STATUS_SUCCESS;
    IoCompleteRequest(pended, IO_NO_INCREMENT);
    IoFreeIrp(irp);
}

TEST_F(Irp, CallingBeyondTheLastStackLocationIsReported)
{
    PIRP irp = IoAllocateIrp(1, FALSE);
    IoGetNextIrpStackLocation(irp)->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
    IoSetCompletionRoutine(irp, LoggingCompletion, &caller, TRUE, TRUE, TRUE);
    NTSTATUS lowerCall = STATUS_SUCCESS;
    g_dispatch = [&](PDEVICE_OBJECT, PIRP i) {
        lowerCall = IoCallDriver(bed.Device(0), i);  // there is no location for it
        i->IoStatus.Status = lowerCall;
        IoCompleteRequest(i, IO_NO_INCREMENT);
        return lowerCall;
    };
    kmsim::ExpectViolations violations;
    IoCallDriver(bed.Top(), irp);
    EXPECT_EQ(lowerCall, STATUS_INVALID_PARAMETER);
    EXPECT_TRUE(violations.Saw("irp", "no stack location left"));
    EXPECT_EQ(violations.Seen().size(), 1u);
    IoFreeIrp(irp);
}

TEST_F(Irp, CallingDriverAboveDispatchLevelIsReported)
{
    g_dispatch = [](PDEVICE_OBJECT, PIRP irp) { return CompleteAtOnce(irp); };
    PIRP irp = Allocate();
    kmsim::ExpectViolations violations;
    KIRQL old;
    KeRaiseIrql(HIGH_LEVEL, &old);
    IoCallDriver(bed.Top(), irp);
    KeLowerIrql(old);
    EXPECT_TRUE(violations.Saw("irp", "IofCallDriver"));
    IoFreeIrp(irp);
}

TEST_F(Irp, CompletingWithACancelRoutineSetOrStatusPendingIsReported)
{
    g_dispatch = [](PDEVICE_OBJECT, PIRP irp) {
        IoSetCancelRoutine(irp, [](PDEVICE_OBJECT, PIRP) {});
        irp->IoStatus.Status = STATUS_PENDING;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        return STATUS_SUCCESS;
    };
    PIRP irp = Allocate();
    kmsim::ExpectViolations violations;
    IoCallDriver(bed.Top(), irp);
    EXPECT_TRUE(violations.Saw("irp", "cancel routine still set"));
    EXPECT_TRUE(violations.Saw("irp", "STATUS_PENDING"));
    IoFreeIrp(irp);
}

// ---- Cancellation -------------------------------------------------------------

struct CancelObservation {
    bool called = false;
    KIRQL irqlInRoutine = PASSIVE_LEVEL;
    BOOLEAN cancelFlag = FALSE;
    PDEVICE_OBJECT device = nullptr;
};
CancelObservation g_cancel;

void ObservingCancel(PDEVICE_OBJECT device, PIRP irp)
{
    g_cancel.called = true;
    g_cancel.irqlInRoutine = KeGetCurrentIrql();
    g_cancel.cancelFlag = irp->Cancel;
    g_cancel.device = device;
    IoReleaseCancelSpinLock(irp->CancelIrql);
    irp->IoStatus.Status = STATUS_CANCELLED;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
}

TEST_F(Irp, CancelCallsTheCancelRoutineWithTheCancelSpinLockHeld)
{
    g_cancel = {};
    g_dispatch = [](PDEVICE_OBJECT, PIRP irp) {
        IoMarkIrpPending(irp);
        IoSetCancelRoutine(irp, ObservingCancel);
        return STATUS_PENDING;
    };
    PIRP irp = Allocate();
    EXPECT_EQ(IoCallDriver(bed.Top(), irp), STATUS_PENDING);
    EXPECT_TRUE(IoCancelIrp(irp));
    EXPECT_TRUE(g_cancel.called);
    EXPECT_EQ(g_cancel.irqlInRoutine, DISPATCH_LEVEL);
    EXPECT_TRUE(g_cancel.cancelFlag);
    EXPECT_EQ(g_cancel.device, bed.Top());
    EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
    EXPECT_EQ(irp->IoStatus.Status, STATUS_CANCELLED);
    EXPECT_EQ(log.calls.size(), 1u);
    IoFreeIrp(irp);
}

TEST_F(Irp, CancelWithoutARoutineOnlyMarksTheIrp)
{
    PIRP pended = nullptr;
    g_dispatch = [&](PDEVICE_OBJECT, PIRP irp) {
        IoMarkIrpPending(irp);
        pended = irp;
        return STATUS_PENDING;
    };
    PIRP irp = Allocate();
    IoCallDriver(bed.Top(), irp);
    EXPECT_FALSE(IoCancelIrp(irp));
    EXPECT_TRUE(irp->Cancel);
    pended->IoStatus.Status = STATUS_CANCELLED;
    IoCompleteRequest(pended, IO_NO_INCREMENT);
    IoFreeIrp(irp);
}

void ForgetfulCancel(PDEVICE_OBJECT, PIRP irp)
{
    irp->IoStatus.Status = STATUS_CANCELLED;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
}

TEST_F(Irp, CancelRoutineThatKeepsTheCancelSpinLockIsReported)
{
    g_dispatch = [](PDEVICE_OBJECT, PIRP irp) {
        IoMarkIrpPending(irp);
        IoSetCancelRoutine(irp, ForgetfulCancel);
        return STATUS_PENDING;
    };
    PIRP irp = Allocate();
    IoCallDriver(bed.Top(), irp);
    kmsim::ExpectViolations violations;
    IoCancelIrp(irp);
    EXPECT_TRUE(violations.Saw("irp", "without releasing the cancel spin lock"));
    EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
    IoFreeIrp(irp);
}

}  // namespace
