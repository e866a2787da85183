// Stream requests, the pin's frame queue, its leading-edge stream pointer and
// processing.
//
// IOCTL_KS_WRITE_STREAM and IOCTL_KS_READ_STREAM arrive METHOD_NEITHER with
// the KSSTREAM_HEADER array in UserBuffer (OutputBufferLength bytes); each
// header's Size steps to the next. The request stays pending until all its
// frames are used up or ejected, then completes with Information = the
// length of the header array. Frames are the client's memory, used in place.
// Queued requests end when the pin stops, resets or closes, or when they are
// cancelled (STATUS_CANCELLED).
#include "km/ksobjects.h"
#include "km/verifier.h"

#include <condition_variable>
#include <cstring>
#include <deque>

namespace kmsim::ks {
namespace {

constexpr int kMaximumProcessRounds = 100000;

bool IsSinkTakingData(const Pin* pin) { return pin->ks.DataFlow == KSPIN_DATAFLOW_IN; }

// Under the pin's processGuard, under which state changes publish the
// pin's DeviceState: processing runs on other threads than state changes.
bool MayProcess(const Pin* pin)
{
    const KSPIN_DESCRIPTOR_EX* d = pin->ks.Descriptor;
    if (!d->Dispatch || !d->Dispatch->Process) return false;
    if (d->Flags & KSPIN_FLAG_PROCESS_IN_RUN_STATE_ONLY) return pin->ks.DeviceState == KSSTATE_RUN;
    return pin->ks.DeviceState >= KSSTATE_PAUSE;
}

// The pointer's offsets for the frame at the head of the queue.
void PointAt(Pin* pin, Frame& frame)
{
    KSSTREAM_POINTER& p = pin->queue.leading;
    p.Pin = &pin->ks;
    p.StreamHeader = frame.header;
    p.OffsetIn = KSSTREAM_POINTER_OFFSET{};
    p.OffsetOut = KSSTREAM_POINTER_OFFSET{};
    auto* data = static_cast<PUCHAR>(frame.header->Data);
    if (IsSinkTakingData(pin)) {
        p.OffsetIn.Data = data ? data + frame.done : nullptr;
        p.OffsetIn.Count = frame.header->DataUsed;
        p.OffsetIn.Remaining = frame.header->DataUsed - frame.done;
        p.Offset = &p.OffsetIn;
    } else {
        p.OffsetOut.Data = data ? data + frame.done : nullptr;
        p.OffsetOut.Count = frame.header->FrameExtent;
        p.OffsetOut.Remaining = frame.header->FrameExtent - frame.done;
        p.Offset = &p.OffsetOut;
    }
}

void CompleteIrp(PIRP irp, NTSTATUS status)
{
    irp->IoStatus.Status = status;
    if (status == STATUS_SUCCESS) {
        irp->IoStatus.Information = IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.OutputBufferLength;
    }
    IoCompleteRequest(irp, IO_NO_INCREMENT);
}

// Under the queue lock, once a request's last frame has left the queue:
// the request if this caller completes it. A cancel routine that is about to
// run completes it instead; one that has run already left it to us.
QueuedIrp* TakeForCompletion(QueuedIrp* queued)
{
    if (IoSetCancelRoutine(queued->irp, nullptr) || queued->cancelRan) return queued;
    return nullptr;
}

// A frame leaves the queue; returns the request to complete when it was the
// request's last frame. Call with the queue lock held.
QueuedIrp* RemoveFrame(Pin* pin, std::list<Frame>::iterator frame)
{
    QueuedIrp* owner = frame->owner;
    pin->queue.frames.erase(frame);
    return --owner->framesLeft == 0 ? TakeForCompletion(owner) : nullptr;
}

QueuedIrp* RetireHead(Pin* pin)
{
    Frame& frame = pin->queue.frames.front();
    if (!IsSinkTakingData(pin)) frame.header->DataUsed = frame.done;
    return RemoveFrame(pin, pin->queue.frames.begin());
}

// Once the head frame is unlocked: a frame of a cancelled request that the
// cancel routine had to leave because it was locked goes now.
QueuedIrp* DropCancelledHead(Pin* pin)
{
    StreamQueue& q = pin->queue;
    if (q.locked || q.frames.empty() || !q.frames.front().owner->cancelRan) return nullptr;
    return RemoveFrame(pin, q.frames.begin());
}

// The pin is let go of before the completion, whose routines may stop or
// close it.
void Finish(QueuedIrp* done)
{
    if (!done) return;
    StreamQueue& q = done->pin->queue;
    PIRP irp = done->irp;
    NTSTATUS status = done->cancelled ? STATUS_CANCELLED : done->status;
    delete done;
    {
        std::lock_guard lock(q.lock);
        if (--q.requests == 0) q.requestsDone.notify_all();
    }
    CompleteIrp(irp, status);
}

// The cancel routine of a queued stream request: its frames leave the queue,
// and it completes as cancelled once none is left.
void CancelQueuedRequest(PDEVICE_OBJECT, PIRP irp)
{
    IoReleaseCancelSpinLock(irp->CancelIrql);
    auto* queued = static_cast<QueuedIrp*>(irp->Tail.Overlay.DriverContext[0]);
    StreamQueue& q = queued->pin->queue;
    QueuedIrp* done = nullptr;
    {
        std::lock_guard lock(q.lock);
        queued->cancelled = true;
        queued->cancelRan = true;
        for (auto it = q.frames.begin(); it != q.frames.end() && queued->framesLeft > 0;) {
            if (it->owner != queued || (it == q.frames.begin() && q.locked)) {
                ++it;
                continue;
            }
            auto next = std::next(it);
            q.frames.erase(it);
            --queued->framesLeft;
            it = next;
        }
        if (queued->framesLeft == 0) done = queued;
    }
    Finish(done);
}

Pin* LivePinOfPointer(const char* routine, PKSSTREAM_POINTER pointer)
{
    Kind kind;
    if (pointer && pointer->Pin && KindOf(pointer->Pin, &kind) && kind == Kind::Pin) {
        auto* pin = reinterpret_cast<Pin*>(pointer->Pin);
        if (&pin->queue.leading == pointer) return pin;
    }
    ReportViolation("ks", std::string(routine) + ": not a stream pointer of a live pin");
    return nullptr;
}

// ---- Asynchronous processing: one worker at passive level ------------------------

class ProcessWorker {
public:
    static ProcessWorker& Instance()
    {
        static ProcessWorker* worker = new ProcessWorker;
        return *worker;
    }

    void Queue(Pin* pin)
    {
        std::lock_guard lock(mutex_);
        for (Pin* queued : pins_) {
            if (queued == pin) return;
        }
        pins_.push_back(pin);
        if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
        wake_.notify_all();
    }

    void Forget(Pin* pin)
    {
        std::unique_lock lock(mutex_);
        std::erase(pins_, pin);
        if (thread_.get_id() == std::this_thread::get_id()) return;
        idle_.wait(lock, [&] { return running_ != pin; });
    }

private:
    void Run()
    {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [&] { return !pins_.empty(); });
            Pin* pin = pins_.front();
            pins_.pop_front();
            running_ = pin;
            lock.unlock();
            ProcessPin(pin);
            lock.lock();
            running_ = nullptr;
            idle_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_, idle_;
    std::deque<Pin*> pins_;
    Pin* running_ = nullptr;
    std::thread thread_;
};

}  // namespace

bool HasQueuedFrames(Pin* pin)
{
    std::lock_guard lock(pin->queue.lock);
    return !pin->queue.frames.empty();
}

void ProcessPin(Pin* pin)
{
    StreamQueue& q = pin->queue;
    {
        std::lock_guard guard(q.processGuard);
        if (q.processing) {
            // Running here already (Process asked for itself) or elsewhere:
            // the running one goes round again.
            q.again = true;
            return;
        }
        q.processing = true;
        q.processingThread = std::this_thread::get_id();
    }
    const KSPIN_DESCRIPTOR_EX* d = pin->ks.Descriptor;
    bool raise = (d->Flags & KSPIN_FLAG_DISPATCH_LEVEL_PROCESSING) && KeGetCurrentIrql() < DISPATCH_LEVEL;
    for (int round = 0;; ++round) {
        bool may;
        {
            std::lock_guard guard(q.processGuard);
            q.again = false;
            may = MayProcess(pin);
        }
        NTSTATUS status = STATUS_PENDING;
        if (may) {
            KIRQL old = PASSIVE_LEVEL;
            if (raise) KeRaiseIrql(DISPATCH_LEVEL, &old);
            status = d->Dispatch->Process(&pin->ks);
            if (raise) KeLowerIrql(old);
        }
        std::lock_guard guard(q.processGuard);
        bool more = (status == STATUS_SUCCESS && HasQueuedFrames(pin)) || q.again;
        if (!more || round >= kMaximumProcessRounds) {
            if (more) ReportViolation("ks", "Process keeps asking to run again without using frames");
            q.processing = false;
            return;
        }
    }
}

void ForgetAsynchronousProcessing(Pin* pin)
{
    ProcessWorker::Instance().Forget(pin);
    // A synchronous round on another thread (a completion routine) finishes
    // before the pin goes; it is short, so waiting here is a yield loop.
    for (;;) {
        {
            std::lock_guard guard(pin->queue.processGuard);
            if (!pin->queue.processing || pin->queue.processingThread == std::this_thread::get_id()) return;
        }
        std::this_thread::yield();
    }
}

void FlushStreamQueue(Pin* pin)
{
    std::vector<QueuedIrp*> done;
    {
        std::lock_guard lock(pin->queue.lock);
        if (pin->queue.locked) {
            ReportViolation("ks", "pin stopped or closed while its stream pointer is locked");
            pin->queue.locked = false;
        }
        while (!pin->queue.frames.empty()) {
            pin->queue.frames.front().owner->cancelled = true;
            if (QueuedIrp* last = RemoveFrame(pin, pin->queue.frames.begin())) done.push_back(last);
        }
    }
    for (QueuedIrp* irp : done) Finish(irp);
    // Requests whose cancel routine was on its way complete there.
    std::unique_lock lock(pin->queue.lock);
    pin->queue.requestsDone.wait(lock, [pin] { return pin->queue.requests == 0; });
}

NTSTATUS DispatchStream(PIRP irp)
{
    PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
    Pin* pin = PinOfFileObject(sp->FileObject);
    if (!pin) return STATUS_INVALID_DEVICE_REQUEST;
    ULONG code = sp->Parameters.DeviceIoControl.IoControlCode;
    if (code == IOCTL_KS_RESET_STATE) {
        const void* in = sp->Parameters.DeviceIoControl.Type3InputBuffer;
        if (!in || sp->Parameters.DeviceIoControl.InputBufferLength < sizeof(ULONG)) return STATUS_INVALID_PARAMETER;
        ULONG reset;
        memcpy(&reset, in, sizeof(reset));
        if (reset > KSRESET_END) return STATUS_INVALID_PARAMETER;
        std::lock_guard control(pin->filter->control);
        pin->ks.ResetState = KSRESET(reset);
        if (reset == KSRESET_BEGIN) FlushStreamQueue(pin);
        if (pin->ks.Descriptor->Dispatch && pin->ks.Descriptor->Dispatch->Reset) pin->ks.Descriptor->Dispatch->Reset(&pin->ks);
        return STATUS_SUCCESS;
    }

    bool write = code == IOCTL_KS_WRITE_STREAM;
    if (write != IsSinkTakingData(pin)) return STATUS_INVALID_DEVICE_REQUEST;
    auto* headers = static_cast<uint8_t*>(irp->UserBuffer);
    ULONG bytes = sp->Parameters.DeviceIoControl.OutputBufferLength;
    if (!headers || bytes < sizeof(KSSTREAM_HEADER)) return STATUS_INVALID_PARAMETER;
    if (reinterpret_cast<uintptr_t>(headers) % alignof(KSSTREAM_HEADER)) return STATUS_INVALID_PARAMETER;

    // Check every header before queueing any.
    std::vector<PKSSTREAM_HEADER> frames;
    for (ULONG offset = 0; offset < bytes;) {
        if (bytes - offset < sizeof(KSSTREAM_HEADER)) return STATUS_INVALID_PARAMETER;
        auto* header = reinterpret_cast<PKSSTREAM_HEADER>(headers + offset);
        if (header->Size < sizeof(KSSTREAM_HEADER) || header->Size > bytes - offset || header->Size % 8) {
            return STATUS_INVALID_PARAMETER;
        }
        if (header->FrameExtent && !header->Data) return STATUS_INVALID_PARAMETER;
        if (write && header->DataUsed > header->FrameExtent) return STATUS_INVALID_PARAMETER;
        if (!write) header->DataUsed = 0;
        frames.push_back(header);
        offset += header->Size;
    }
    if (pin->ks.DeviceState == KSSTATE_STOP || pin->ks.ResetState == KSRESET_BEGIN) return STATUS_INVALID_DEVICE_STATE;

    auto* queued = new QueuedIrp{irp, pin, ULONG(frames.size())};
    irp->Tail.Overlay.DriverContext[0] = queued;
    IoMarkIrpPending(irp);
    // Once the lock is left the request may be processed and freed on
    // another thread: what happened to it here is decided inside.
    bool cancelledAtOnce = false;
    {
        std::lock_guard lock(pin->queue.lock);
        ++pin->queue.requests;
        for (PKSSTREAM_HEADER header : frames) pin->queue.frames.push_back(Frame{queued, header, 0});
        IoSetCancelRoutine(irp, CancelQueuedRequest);
        // A surprise removal flushes under this lock: a request that comes
        // after it ends here as one flushed would.
        bool deviceGone = pin->filter->factory->device->surpriseRemoved;
        if ((irp->Cancel || deviceGone) && IoSetCancelRoutine(irp, nullptr)) {
            // Cancelled before the routine was in place: it ends here.
            queued->cancelled = true;
            queued->cancelRan = true;
            pin->queue.frames.remove_if([queued](const Frame& frame) { return frame.owner == queued; });
            queued->framesLeft = 0;
            cancelledAtOnce = true;
        }
    }
    if (cancelledAtOnce) {
        Finish(queued);
        return STATUS_PENDING;
    }
    if (!(pin->ks.Descriptor->Flags & KSPIN_FLAG_DO_NOT_INITIATE_PROCESSING)) ProcessPin(pin);
    return STATUS_PENDING;
}

}  // namespace kmsim::ks

using namespace kmsim::ks;

PKSSTREAM_POINTER KsPinGetLeadingEdgeStreamPointer(PKSPIN Pin, KSSTREAM_POINTER_STATE State)
{
    Kind kind;
    if (!Pin || !KindOf(Pin, &kind) || kind != Kind::Pin) {
        kmsim::ReportViolation("ks", "KsPinGetLeadingEdgeStreamPointer: not a live pin");
        return nullptr;
    }
    auto* pin = reinterpret_cast<kmsim::ks::Pin*>(Pin);
    std::lock_guard lock(pin->queue.lock);
    if (pin->queue.locked) {
        kmsim::ReportViolation("ks", "KsPinGetLeadingEdgeStreamPointer: the leading edge is still locked");
        return nullptr;
    }
    if (pin->queue.frames.empty()) return nullptr;
    PointAt(pin, pin->queue.frames.front());
    pin->queue.locked = State == KSSTREAM_POINTER_STATE_LOCKED;
    return &pin->queue.leading;
}

NTSTATUS KsStreamPointerLock(PKSSTREAM_POINTER StreamPointer)
{
    kmsim::ks::Pin* pin = LivePinOfPointer("KsStreamPointerLock", StreamPointer);
    if (!pin) return STATUS_INVALID_PARAMETER;
    std::lock_guard lock(pin->queue.lock);
    if (pin->queue.frames.empty()) return STATUS_DEVICE_NOT_READY;
    PointAt(pin, pin->queue.frames.front());
    pin->queue.locked = true;
    return STATUS_SUCCESS;
}

void KsStreamPointerUnlock(PKSSTREAM_POINTER StreamPointer, BOOLEAN Eject)
{
    kmsim::ks::Pin* pin = LivePinOfPointer("KsStreamPointerUnlock", StreamPointer);
    if (!pin) return;
    QueuedIrp* done = nullptr;
    {
        std::lock_guard lock(pin->queue.lock);
        if (!pin->queue.locked) kmsim::ReportViolation("ks", "KsStreamPointerUnlock: the pointer is not locked");
        pin->queue.locked = false;
        if (Eject && !pin->queue.frames.empty()) {
            done = RetireHead(pin);
        } else {
            done = DropCancelledHead(pin);
        }
    }
    Finish(done);
}

namespace {

// Unlocking happens before the finished request completes, so that a client
// woken by the completion finds the pin's pointer free.
NTSTATUS Advance(const char* routine, PKSSTREAM_POINTER pointer, ULONG inUsed, ULONG outUsed, BOOLEAN eject,
                 bool unlock)
{
    kmsim::ks::Pin* pin = LivePinOfPointer(routine, pointer);
    if (!pin) return STATUS_INVALID_PARAMETER;
    QueuedIrp* done = nullptr;
    NTSTATUS status = STATUS_SUCCESS;
    {
        std::lock_guard lock(pin->queue.lock);
        if (!pin->queue.locked || pin->queue.frames.empty()) {
            kmsim::ReportViolation("ks", std::string(routine) + ": the pointer is not locked on a frame");
            return STATUS_INVALID_PARAMETER;
        }
        Frame& frame = pin->queue.frames.front();
        ULONG used = IsSinkTakingData(pin) ? inUsed : outUsed;
        ULONG other = IsSinkTakingData(pin) ? outUsed : inUsed;
        ULONG remaining = pin->queue.leading.Offset->Remaining;
        if (used > remaining || other != 0) {
            kmsim::ReportViolation("ks", std::string(routine) + ": advanced by " + std::to_string(used) + "/" +
                                             std::to_string(other) + " bytes with " + std::to_string(remaining) +
                                             " remaining in the frame's direction");
            used = remaining;
        }
        frame.done += used;
        if (used == remaining || eject) done = RetireHead(pin);
        if (unlock) {
            pin->queue.locked = false;
            if (!done) done = DropCancelledHead(pin);
        }
        if (pin->queue.frames.empty()) {
            status = STATUS_DEVICE_NOT_READY;
        } else {
            PointAt(pin, pin->queue.frames.front());
        }
    }
    Finish(done);
    return status;
}

}  // namespace

NTSTATUS KsStreamPointerSetStatusCode(PKSSTREAM_POINTER StreamPointer, NTSTATUS Status)
{
    kmsim::ks::Pin* pin = LivePinOfPointer("KsStreamPointerSetStatusCode", StreamPointer);
    if (!pin) return STATUS_INVALID_PARAMETER;
    std::lock_guard lock(pin->queue.lock);
    if (!pin->queue.locked || pin->queue.frames.empty()) {
        kmsim::ReportViolation("ks", "KsStreamPointerSetStatusCode: the pointer is not locked on a frame");
        return STATUS_INVALID_PARAMETER;
    }
    pin->queue.frames.front().owner->status = Status;
    return STATUS_SUCCESS;
}

NTSTATUS KsStreamPointerAdvanceOffsets(PKSSTREAM_POINTER StreamPointer, ULONG InUsed, ULONG OutUsed, BOOLEAN Eject)
{
    return Advance("KsStreamPointerAdvanceOffsets", StreamPointer, InUsed, OutUsed, Eject, false);
}

NTSTATUS KsStreamPointerAdvanceOffsetsAndUnlock(PKSSTREAM_POINTER StreamPointer, ULONG InUsed, ULONG OutUsed,
                                                BOOLEAN Eject)
{
    NTSTATUS status =
        Advance("KsStreamPointerAdvanceOffsetsAndUnlock", StreamPointer, InUsed, OutUsed, Eject, true);
    return status == STATUS_DEVICE_NOT_READY ? STATUS_SUCCESS : status;
}

// Synchronous: Process runs now in the caller's context. Asynchronous: the
// worker runs it later at passive level.
void KsPinAttemptProcessing(PKSPIN Pin, BOOLEAN Asynchronous)
{
    Kind kind;
    if (!Pin || !KindOf(Pin, &kind) || kind != Kind::Pin) {
        kmsim::ReportViolation("ks", "KsPinAttemptProcessing: not a live pin");
        return;
    }
    auto* pin = reinterpret_cast<kmsim::ks::Pin*>(Pin);
    if (Asynchronous) {
        ProcessWorker::Instance().Queue(pin);
    } else {
        ProcessPin(pin);
    }
}
