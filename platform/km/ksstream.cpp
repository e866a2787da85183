// Pin processing and the stream-pointer entry points.
//
// Stream requests (IOCTL_KS_WRITE_STREAM, IOCTL_KS_READ_STREAM) are not
// queued yet: they are refused, so a pin's queue is always empty and its
// leading edge is never there.
#include "km/ksobjects.h"
#include "km/verifier.h"

namespace kmsim::ks {
namespace {

bool MayProcess(const KSPIN* pin)
{
    if (!pin->Descriptor->Dispatch || !pin->Descriptor->Dispatch->Process) return false;
    if (pin->Descriptor->Flags & KSPIN_FLAG_PROCESS_IN_RUN_STATE_ONLY) return pin->DeviceState == KSSTATE_RUN;
    return pin->DeviceState != KSSTATE_STOP;
}

void Process(KSPIN* pin)
{
    bool raise = (pin->Descriptor->Flags & KSPIN_FLAG_DISPATCH_LEVEL_PROCESSING) && KeGetCurrentIrql() < DISPATCH_LEVEL;
    KIRQL old = PASSIVE_LEVEL;
    if (raise) KeRaiseIrql(DISPATCH_LEVEL, &old);
    pin->Descriptor->Dispatch->Process(pin);
    if (raise) KeLowerIrql(old);
}

}  // namespace

NTSTATUS DispatchStream(PIRP irp)
{
    UNREFERENCED_PARAMETER(irp);
    return STATUS_INVALID_DEVICE_REQUEST;
}

}  // namespace kmsim::ks

using namespace kmsim::ks;

PKSSTREAM_POINTER KsPinGetLeadingEdgeStreamPointer(PKSPIN Pin, KSSTREAM_POINTER_STATE State)
{
    UNREFERENCED_PARAMETER(State);
    Kind kind;
    if (!Pin || !KindOf(Pin, &kind) || kind != Kind::Pin) {
        kmsim::ReportViolation("ks", "KsPinGetLeadingEdgeStreamPointer: not a live pin");
    }
    return nullptr;
}

NTSTATUS KsStreamPointerLock(PKSSTREAM_POINTER StreamPointer)
{
    UNREFERENCED_PARAMETER(StreamPointer);
    kmsim::ReportViolation("ks", "KsStreamPointerLock: no stream pointer was handed out");
    return STATUS_INVALID_PARAMETER;
}

void KsStreamPointerUnlock(PKSSTREAM_POINTER StreamPointer, BOOLEAN Eject)
{
    UNREFERENCED_PARAMETER(StreamPointer);
    UNREFERENCED_PARAMETER(Eject);
    kmsim::ReportViolation("ks", "KsStreamPointerUnlock: no stream pointer was handed out");
}

NTSTATUS KsStreamPointerAdvanceOffsets(PKSSTREAM_POINTER StreamPointer, ULONG InUsed, ULONG OutUsed, BOOLEAN Eject)
{
    UNREFERENCED_PARAMETER(StreamPointer);
    UNREFERENCED_PARAMETER(InUsed);
    UNREFERENCED_PARAMETER(OutUsed);
    UNREFERENCED_PARAMETER(Eject);
    kmsim::ReportViolation("ks", "KsStreamPointerAdvanceOffsets: no stream pointer was handed out");
    return STATUS_INVALID_PARAMETER;
}

NTSTATUS KsStreamPointerAdvanceOffsetsAndUnlock(PKSSTREAM_POINTER StreamPointer, ULONG InUsed, ULONG OutUsed,
                                                BOOLEAN Eject)
{
    UNREFERENCED_PARAMETER(StreamPointer);
    UNREFERENCED_PARAMETER(InUsed);
    UNREFERENCED_PARAMETER(OutUsed);
    UNREFERENCED_PARAMETER(Eject);
    kmsim::ReportViolation("ks", "KsStreamPointerAdvanceOffsetsAndUnlock: no stream pointer was handed out");
    return STATUS_INVALID_PARAMETER;
}

// Process runs in the caller's context; with no frames queued it runs once.
void KsPinAttemptProcessing(PKSPIN Pin, BOOLEAN Asynchronous)
{
    UNREFERENCED_PARAMETER(Asynchronous);
    Kind kind;
    if (!Pin || !KindOf(Pin, &kind) || kind != Kind::Pin) {
        kmsim::ReportViolation("ks", "KsPinAttemptProcessing: not a live pin");
        return;
    }
    if (MayProcess(Pin)) Process(Pin);
}
