// IRPs: allocation, the trip down the driver stack (IofCallDriver) and back
// up through completion routines (IofCompleteRequest), with the ownership
// checks of the verifier.
#include <wdm.h>

#include "km/irptracker.h"
#include "km/verifier.h"

#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace kmsim {
namespace {

constexpr ULONG kIrpTag = MakeTag('I', 'r', 'p', ' ');
// Marks IRPs that IoAllocateIrp made, so IoReuseIrp keeps the mark.
constexpr UCHAR kAllocatedByIoManager = 0x01;

enum class Phase {
    Idle,        // with the driver that allocated it (or never sent)
    InFlight,    // passed down and not yet back with its sender
    Completing,  // completion routines are running
    Completed,   // completed past its top
};

struct IrpState {
    Phase phase = Phase::Idle;
    bool fromIoAllocateIrp = false;
    // The sender's stack location when it was passed down: completion that
    // stops at or above it has handed the IRP back.
    CCHAR sentFrom = 0;
    // Location of the driver whose completion routine is running.
    CCHAR routineOwner = 0;
    IrpFinalCompletion finalCompletion;
};

struct IrpTable {
    std::mutex mutex;
    std::map<uintptr_t, IrpState> irps;
};

IrpTable& TheTable()
{
    static IrpTable* table = new IrpTable;
    return *table;
}

struct DispatchFrame {
    PIRP irp;
    CCHAR location;
};
// Dispatch routines running on this thread, innermost last: tells which
// stack location the code calling IofCompleteRequest owns.
thread_local std::vector<DispatchFrame> t_frames;

bool InFlight(const IrpState& state)
{
    // The sender's own completion routine may free or reuse the IRP.
    return state.phase == Phase::InFlight ||
           (state.phase == Phase::Completing && state.routineOwner < state.sentFrom);
}

std::string Named(const char* routine, PIRP irp)
{
    char text[96];
    snprintf(text, sizeof text, "%s(IRP %p)", routine, (void*)irp);
    return text;
}

}  // namespace

void SetIrpFinalCompletion(PIRP irp, IrpFinalCompletion onCompleted)
{
    IrpTable& t = TheTable();
    std::lock_guard lock(t.mutex);
    t.irps[uintptr_t(irp)].finalCompletion = std::move(onCompleted);
}

void IrpForgetRange(uintptr_t begin, uintptr_t end)
{
    IrpTable& t = TheTable();
    std::lock_guard lock(t.mutex);
    t.irps.erase(t.irps.lower_bound(begin), t.irps.lower_bound(end));
}

bool IrpIsLive(PIRP irp)
{
    IrpTable& t = TheTable();
    std::lock_guard lock(t.mutex);
    auto it = t.irps.find(uintptr_t(irp));
    return it != t.irps.end() && it->second.phase != Phase::Completed;
}

}  // namespace kmsim

using kmsim::Phase;
using kmsim::TheTable;

void IoInitializeIrp(PIRP Irp, USHORT PacketSize, CCHAR StackSize)
{
    if (StackSize < 1 || PacketSize < IoSizeOfIrp(StackSize)) {
        kmsim::ReportViolation("irp", kmsim::Named("IoInitializeIrp", Irp) + ": packet of " +
                                          std::to_string(PacketSize) + " bytes cannot hold " +
                                          std::to_string(StackSize) + " stack locations");
        return;
    }
    __builtin_memset(Irp, 0, PacketSize);
    Irp->Type = IO_TYPE_IRP;
    Irp->Size = PacketSize;
    Irp->StackCount = StackSize;
    Irp->CurrentLocation = CCHAR(StackSize + 1);
    Irp->Tail.Overlay.CurrentStackLocation = reinterpret_cast<PIO_STACK_LOCATION>(Irp + 1) + StackSize;
    InitializeListHead(&Irp->ThreadListEntry);
    kmsim::IrpTable& t = TheTable();
    std::lock_guard lock(t.mutex);
    kmsim::IrpState& state = t.irps[uintptr_t(Irp)];
    state = kmsim::IrpState{};
}

PIRP IoAllocateIrp(CCHAR StackSize, BOOLEAN ChargeQuota)
{
    UNREFERENCED_PARAMETER(ChargeQuota);
    if (StackSize < 1) {
        kmsim::ReportViolation("irp", "IoAllocateIrp with a stack size of " + std::to_string(StackSize));
        return NULL;
    }
    auto size = USHORT(IoSizeOfIrp(StackSize));
    auto irp = static_cast<PIRP>(ExAllocatePoolWithTag(NonPagedPool, size, kmsim::kIrpTag));
    if (!irp) return NULL;
    IoInitializeIrp(irp, size, StackSize);
    irp->AllocationFlags = kmsim::kAllocatedByIoManager;
    kmsim::IrpTable& t = TheTable();
    std::lock_guard lock(t.mutex);
    t.irps[uintptr_t(irp)].fromIoAllocateIrp = true;
    return irp;
}

void IoFreeIrp(PIRP Irp)
{
    kmsim::IrpTable& t = TheTable();
    std::unique_lock lock(t.mutex);
    auto it = t.irps.find(uintptr_t(Irp));
    if (it == t.irps.end() || !it->second.fromIoAllocateIrp) {
        lock.unlock();
        kmsim::ReportViolation("irp", kmsim::Named("IoFreeIrp", Irp) +
                                          ": not an IRP from IoAllocateIrp (or already freed)");
        return;
    }
    if (kmsim::InFlight(it->second)) {
        lock.unlock();
        // Left allocated: a lower driver still uses it.
        kmsim::ReportViolation("irp", kmsim::Named("IoFreeIrp", Irp) + ": the IRP is in flight");
        return;
    }
    t.irps.erase(it);
    lock.unlock();
    if ((Irp->Flags & IRP_DEALLOCATE_BUFFER) && Irp->AssociatedIrp.SystemBuffer) {
        ExFreePool(Irp->AssociatedIrp.SystemBuffer);
    }
    ExFreePoolWithTag(Irp, kmsim::kIrpTag);
}

void IoReuseIrp(PIRP Irp, NTSTATUS Iostatus)
{
    kmsim::IrpTable& t = TheTable();
    std::unique_lock lock(t.mutex);
    auto it = t.irps.find(uintptr_t(Irp));
    if (it == t.irps.end() || kmsim::InFlight(it->second)) {
        bool known = it != t.irps.end();
        lock.unlock();
        kmsim::ReportViolation("irp", kmsim::Named("IoReuseIrp", Irp) +
                                          (known ? ": the IRP is in flight" : ": not a known IRP"));
        return;
    }
    bool fromIoAllocateIrp = it->second.fromIoAllocateIrp;
    lock.unlock();
    UCHAR allocationFlags = Irp->AllocationFlags;
    IoInitializeIrp(Irp, Irp->Size, Irp->StackCount);
    Irp->AllocationFlags = allocationFlags;
    Irp->IoStatus.Status = Iostatus;
    lock.lock();
    t.irps[uintptr_t(Irp)].fromIoAllocateIrp = fromIoAllocateIrp;
}

NTSTATUS IofCallDriver(PDEVICE_OBJECT DeviceObject, PIRP Irp)
{
    if (KeGetCurrentIrql() > DISPATCH_LEVEL) {
        kmsim::ReportViolation("irp", kmsim::Named("IofCallDriver", Irp) + " at IRQL " +
                                          std::to_string(KeGetCurrentIrql()));
    }
    if (!DeviceObject) {
        kmsim::ReportViolation("irp", kmsim::Named("IofCallDriver", Irp) + ": null device object");
        return STATUS_INVALID_PARAMETER;
    }
    {
        kmsim::IrpTable& t = TheTable();
        std::unique_lock lock(t.mutex);
        auto it = t.irps.find(uintptr_t(Irp));
        if (it == t.irps.end()) {
            lock.unlock();
            kmsim::ReportViolation("irp", kmsim::Named("IofCallDriver", Irp) +
                                              ": not a live IRP (freed, or never initialised)");
            return STATUS_INVALID_PARAMETER;
        }
        if (Irp->CurrentLocation <= 1) {
            lock.unlock();
            kmsim::ReportViolation("irp", kmsim::Named("IofCallDriver", Irp) +
                                              ": no stack location left for the device");
            return STATUS_INVALID_PARAMETER;
        }
        kmsim::IrpState& state = it->second;
        if (state.phase == Phase::Idle || state.phase == Phase::Completed || state.phase == Phase::Completing) {
            state.sentFrom = Irp->CurrentLocation;
        }
        state.phase = Phase::InFlight;
    }
    IoSetNextIrpStackLocation(Irp);
    PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(Irp);
    sp->DeviceObject = DeviceObject;
    PDRIVER_DISPATCH dispatch = NULL;
    if (DeviceObject->DriverObject && sp->MajorFunction <= IRP_MJ_MAXIMUM_FUNCTION) {
        dispatch = DeviceObject->DriverObject->MajorFunction[sp->MajorFunction];
    }
    kmsim::t_frames.push_back({Irp, Irp->CurrentLocation});
    NTSTATUS status;
    if (dispatch) {
        status = dispatch(DeviceObject, Irp);
    } else {
        // What the I/O manager installs in empty dispatch slots.
        Irp->IoStatus.Status = status = STATUS_INVALID_DEVICE_REQUEST;
        Irp->IoStatus.Information = 0;
        IofCompleteRequest(Irp, IO_NO_INCREMENT);
    }
    kmsim::t_frames.pop_back();
    return status;
}

namespace {

// Completion routines, from the completing location up. Returns true when
// completion went past the top stack location.
bool RunCompletionRoutines(PIRP Irp)
{
    kmsim::IrpTable& t = TheTable();
    while (Irp->CurrentLocation <= Irp->StackCount) {
        PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(Irp);
        Irp->CurrentLocation++;
        Irp->Tail.Overlay.CurrentStackLocation++;
        Irp->PendingReturned = (sp->Control & SL_PENDING_RETURNED) != 0;
        NTSTATUS status = Irp->IoStatus.Status;
        UCHAR control = sp->Control;
        PIO_COMPLETION_ROUTINE routine = sp->CompletionRoutine;
        PVOID context = sp->Context;
        sp->Control = 0;
        sp->CompletionRoutine = NULL;
        sp->Context = NULL;
        bool invoke = routine && ((NT_SUCCESS(status) && (control & SL_INVOKE_ON_SUCCESS)) ||
                                  (!NT_SUCCESS(status) && (control & SL_INVOKE_ON_ERROR)) ||
                                  (Irp->Cancel && (control & SL_INVOKE_ON_CANCEL)));
        if (!invoke) {
            // Without a routine to do it, the pending mark travels up.
            if (Irp->PendingReturned && Irp->CurrentLocation <= Irp->StackCount) IoMarkIrpPending(Irp);
            continue;
        }
        // The routine runs on behalf of the driver that set it, whose stack
        // location is now the current one (none above the top).
        PDEVICE_OBJECT device =
            Irp->CurrentLocation <= Irp->StackCount ? IoGetCurrentIrpStackLocation(Irp)->DeviceObject : NULL;
        CCHAR location = Irp->CurrentLocation;
        {
            std::lock_guard lock(t.mutex);
            t.irps[uintptr_t(Irp)].routineOwner = location;
        }
        NTSTATUS result = routine(device, Irp, context);
        std::unique_lock lock(t.mutex);
        auto it = t.irps.find(uintptr_t(Irp));
        if (it == t.irps.end()) {
            lock.unlock();
            if (result != STATUS_MORE_PROCESSING_REQUIRED) {
                kmsim::ReportViolation("irp", kmsim::Named("IofCompleteRequest", Irp) +
                                                  ": a completion routine freed the IRP without returning "
                                                  "STATUS_MORE_PROCESSING_REQUIRED");
            }
            return false;
        }
        kmsim::IrpState& state = it->second;
        if (result == STATUS_MORE_PROCESSING_REQUIRED) {
            // The routine's driver owns the IRP again, unless it already
            // passed it on or completed it.
            if (state.phase == Phase::Completing) {
                state.phase = location >= state.sentFrom ? Phase::Idle : Phase::InFlight;
            }
            return false;
        }
        if (state.phase != Phase::Completing) {
            lock.unlock();
            kmsim::ReportViolation("irp", kmsim::Named("IofCompleteRequest", Irp) +
                                              ": a completion routine passed the IRP on or completed it "
                                              "without returning STATUS_MORE_PROCESSING_REQUIRED");
            return false;
        }
    }
    return true;
}

}  // namespace

void IofCompleteRequest(PIRP Irp, CCHAR PriorityBoost)
{
    UNREFERENCED_PARAMETER(PriorityBoost);
    std::string where = kmsim::Named("IofCompleteRequest", Irp);
    kmsim::IrpTable& t = TheTable();
    {
        std::unique_lock lock(t.mutex);
        auto it = t.irps.find(uintptr_t(Irp));
        // Looked up before the IRP is touched: a freed IRP is reported
        // rather than read.
        const char* refused = NULL;
        if (it == t.irps.end()) {
            refused = ": not a live IRP (already completed and freed, or never allocated)";
        } else if (it->second.phase == Phase::Completed) {
            refused = ": the IRP was already completed";
        } else if (it->second.phase == Phase::Completing) {
            refused = ": the IRP is completed again while its completion routines run";
        }
        if (refused) {
            lock.unlock();
            kmsim::ReportViolation("irp", where + refused);
            return;
        }
        it->second.phase = Phase::Completing;
    }
    if (KeGetCurrentIrql() > DISPATCH_LEVEL) {
        kmsim::ReportViolation("irp", where + " at IRQL " + std::to_string(KeGetCurrentIrql()));
    }
    for (auto frame = kmsim::t_frames.rbegin(); frame != kmsim::t_frames.rend(); ++frame) {
        if (frame->irp != Irp) continue;
        if (frame->location != Irp->CurrentLocation) {
            kmsim::ReportViolation("irp", where + ": completed by the driver at stack location " +
                                              std::to_string(frame->location) + " while the driver at location " +
                                              std::to_string(Irp->CurrentLocation) + " owns it");
        }
        break;
    }
    if (Irp->IoStatus.Status == STATUS_PENDING) {
        kmsim::ReportViolation("irp", where + ": completed with STATUS_PENDING");
    }
    // IoCancelIrp exchanges the routine atomically; read it the same way.
    if (__atomic_load_n(reinterpret_cast<PVOID volatile*>(&Irp->CancelRoutine), __ATOMIC_SEQ_CST)) {
        kmsim::ReportViolation("irp", where + ": completed with a cancel routine still set");
    }

    if (!RunCompletionRoutines(Irp)) return;

    kmsim::IrpFinalCompletion finish;
    {
        std::lock_guard lock(t.mutex);
        auto it = t.irps.find(uintptr_t(Irp));
        if (it == t.irps.end()) return;
        it->second.phase = Phase::Completed;
        finish = std::move(it->second.finalCompletion);
    }
    if (finish) {
        finish(Irp);
    } else {
        kmsim::ReportViolation("irp", where + ": a driver-allocated IRP was completed past its top stack "
                                              "location; no completion routine returned "
                                              "STATUS_MORE_PROCESSING_REQUIRED");
    }
}
