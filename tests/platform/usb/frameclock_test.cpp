// The bus's clock and worker as a driver's streaming engine meets them:
// completions on the worker at DISPATCH_LEVEL, resubmission from the
// completion routine, stepping that finishes each frame's work, the paced
// clock, and cancels racing completion.
#include "transferfixture.h"

#include <usbioctl.h>

#include <atomic>
#include <cmath>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace {

using namespace usbtest;

// A transfer that resubmits itself from its completion routine, as an
// audio or MIDI engine does, until it has completed `rounds` times.
class Resubmitter {
public:
    Resubmitter(PDEVICE_OBJECT pdo, PURB urb, ULONG rounds, void (*prepare)(PURB))
        : m_pdo(pdo), m_urb(urb), m_rounds(rounds), m_prepare(prepare)
    {
        KeInitializeEvent(&m_done, NotificationEvent, FALSE);
        m_irp = IoAllocateIrp(pdo->StackSize, FALSE);
    }
    ~Resubmitter()
    {
        KeWaitForSingleObject(&m_done, Executive, KernelMode, FALSE, nullptr);
        IoFreeIrp(m_irp);
    }
    void Start() { Send(); }
    void WaitDone() { KeWaitForSingleObject(&m_done, Executive, KernelMode, FALSE, nullptr); }
    bool Done() const { return KeReadStateEvent(const_cast<KEVENT*>(&m_done)) != 0; }

    ULONG completions = 0;
    std::vector<KIRQL> irqls;
    std::vector<std::thread::id> threads;
    std::vector<NTSTATUS> statuses;
    std::vector<NTSTATUS> returned;  // IofCallDriver's answers

private:
    void Send()
    {
        m_prepare(m_urb);
        IoReuseIrp(m_irp, STATUS_NOT_SUPPORTED);
        PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(m_irp);
        next->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
        next->Parameters.DeviceIoControl.IoControlCode = IOCTL_INTERNAL_USB_SUBMIT_URB;
        next->Parameters.Others.Argument1 = m_urb;
        IoSetCompletionRoutine(m_irp, OnComplete, this, TRUE, TRUE, TRUE);
        const NTSTATUS status = IoCallDriver(m_pdo, m_irp);
        // With the clock paced, the completion (and the next Send) may run
        // on the worker before this call returns.
        std::lock_guard lock(m_record);
        returned.push_back(status);
    }
    static NTSTATUS OnComplete(PDEVICE_OBJECT, PIRP irp, PVOID context)
    {
        auto* self = static_cast<Resubmitter*>(context);
        bool again;
        {
            std::lock_guard lock(self->m_record);
            self->irqls.push_back(KeGetCurrentIrql());
            self->threads.push_back(std::this_thread::get_id());
            self->statuses.push_back(irp->IoStatus.Status);
            again = ++self->completions < self->m_rounds && NT_SUCCESS(irp->IoStatus.Status);
        }
        if (again)
            self->Send();
        else
            KeSetEvent(&self->m_done, IO_NO_INCREMENT, FALSE);
        return STATUS_MORE_PROCESSING_REQUIRED;
    }

    PDEVICE_OBJECT m_pdo;
    PURB m_urb;
    ULONG m_rounds;
    void (*m_prepare)(PURB);
    PIRP m_irp;
    KEVENT m_done;
    std::mutex m_record;
};

class FrameClockTest : public TransferTest {};

TEST_F(FrameClockTest, IsochronousCompletionsRunOnTheWorkerAtDispatchLevelAndMayResubmit)
{
    IsoRequest request(Pipe(kIsoInPipe), true, 2, kIsoPacketSize, 0);
    Resubmitter engine(busDevice.Pdo(), request.Urb(), 5, [](PURB urb) {
        urb->UrbIsochronousTransfer.TransferFlags |= USBD_START_ISO_TRANSFER_ASAP;
    });
    engine.Start();
    // Two frames per transfer: after ten frames all five rounds are done,
    // each resubmission having been accepted inside the step.
    bus.StepFrames(9);
    EXPECT_EQ(engine.completions, 4u);
    bus.StepFrames(1);
    ASSERT_TRUE(engine.Done());
    EXPECT_EQ(engine.completions, 5u);
    for (ULONG i = 0; i < 5; ++i) {
        EXPECT_EQ(engine.irqls[i], DISPATCH_LEVEL);
        EXPECT_NE(engine.threads[i], std::this_thread::get_id());
        EXPECT_EQ(engine.statuses[i], STATUS_SUCCESS);
        EXPECT_EQ(engine.returned[i], STATUS_PENDING);  // never completed inside the call
    }
    EXPECT_EQ(device->IsoInFrames().size(), 10u);
}

TEST_F(FrameClockTest, BulkReadResubmittedFromItsCompletionRoutineDoesNotRecurse)
{
    for (uint8_t i = 0; i < 6; ++i) device->PushIn(kBulkIn, {i});
    BulkRequest read(Pipe(kBulkInPipe), true, 64);
    Resubmitter engine(busDevice.Pdo(), &read.urb, 6, [](PURB urb) {
        urb->UrbBulkOrInterruptTransfer.TransferBufferLength = 64;
    });
    engine.Start();
    engine.WaitDone();
    EXPECT_EQ(engine.completions, 6u);
    for (ULONG i = 0; i < 6; ++i) {
        EXPECT_EQ(engine.irqls[i], DISPATCH_LEVEL);
        EXPECT_EQ(engine.returned[i], STATUS_PENDING);
    }
    // The device's hooks ran on the worker too.
    for (const HookContext& c : device->Contexts()) EXPECT_EQ(c.thread, engine.threads[0]);
}

TEST_F(FrameClockTest, StepFramesMovesTheClockByExactlyTheFramesAsked)
{
    bus.SetCurrentFrame(1000);
    bus.StepFrames(0);
    EXPECT_EQ(bus.CurrentFrame(), 1000u);
    bus.StepFrames(25);
    EXPECT_EQ(bus.CurrentFrame(), 1025u);
}

TEST_F(FrameClockTest, PacedClockAdvancesOnItsOwnAndStopsWhenAsked)
{
    EXPECT_FALSE(bus.Pacing());
    const ULONG start = bus.CurrentFrame();
    // Waiting for a transfer 30 frames ahead is waiting for the clock.
    IsoRequest request(Pipe(kIsoOutPipe), false, 1, 8, start + 30);
    Submission s(busDevice.Pdo(), request.Urb());
    bus.StartPacing(20.0);
    EXPECT_TRUE(bus.Pacing());
    EXPECT_EQ(s.Wait(), STATUS_SUCCESS);
    EXPECT_GE(LONG(bus.CurrentFrame() - (start + 30)), 0);
    bus.StopPacing();
    EXPECT_FALSE(bus.Pacing());
    const ULONG stopped = bus.CurrentFrame();
    bus.Flush();
    EXPECT_EQ(bus.CurrentFrame(), stopped);
}

TEST_F(FrameClockTest, PacingAsFastAsTheWorkAllowsRunsAResubmittingEngine)
{
    IsoRequest request(Pipe(kIsoInPipe), true, 4, kIsoPacketSize, 0);
    Resubmitter engine(busDevice.Pdo(), request.Urb(), 50, [](PURB urb) {
        urb->UrbIsochronousTransfer.TransferFlags |= USBD_START_ISO_TRANSFER_ASAP;
    });
    bus.StartPacing(0);
    engine.Start();
    engine.WaitDone();
    bus.StopPacing();
    EXPECT_EQ(engine.completions, 50u);
}

TEST_F(FrameClockTest, NegativeOrNotANumberSpeedIsRefused)
{
    EXPECT_THROW(bus.StartPacing(-1.0), std::invalid_argument);
    EXPECT_THROW(bus.StartPacing(std::nan("")), std::invalid_argument);
    EXPECT_FALSE(bus.Pacing());
}

TEST_F(FrameClockTest, CancelRacingCompletionEndsEachTransferExactlyOnce)
{
    // The verifier reports a double completion; each transfer ends either
    // way, never both.
    device->SetIsoInLength(8);
    bus.StartPacing(0);
    for (int i = 0; i < 200; ++i) {
        IsoRequest iso(Pipe(kIsoInPipe), true, 1, kIsoPacketSize, 0);
        BulkRequest read(Pipe(kBulkInPipe), true, 64);
        Submission a(busDevice.Pdo(), iso.Urb());
        Submission b(busDevice.Pdo(), &read.urb);
        std::thread pusher([&] { device->PushIn(kBulkIn, {1}); });
        a.Cancel();
        b.Cancel();
        pusher.join();
        const NTSTATUS isoStatus = a.Wait();
        const NTSTATUS readStatus = b.Wait();
        EXPECT_TRUE(isoStatus == STATUS_SUCCESS || isoStatus == STATUS_CANCELLED) << isoStatus;
        EXPECT_TRUE(readStatus == STATUS_SUCCESS || readStatus == STATUS_CANCELLED) << readStatus;
    }
    bus.StopPacing();
    EXPECT_EQ(Counts(kIsoIn).completed, 200u);
    EXPECT_EQ(Counts(kBulkIn).completed, 200u);
}

}  // namespace
